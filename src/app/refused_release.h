#pragma once

#include "app/refused_release_text.h"

#include <optional>
#include <string>

// The release this office refuses (app/refused_release_text.h); none when
// there is no file, or one that cannot be read now or does not name one.
std::optional<VersionNumber> readRefusedRelease();

// Keeps the release as the one refused from now on, written through to the
// disk, in place of any earlier one. False when it could not be written.
bool rememberRefusedRelease(const std::wstring& version);
