#pragma once

#include <string>

// The office's id (see app/office_id_text.h), read from the office folder;
// a missing or malformed file is replaced by a new id from the system's
// random generator. Empty only when no random value could be had; an id
// that cannot be written is still used for this run.
std::string loadOfficeId();
