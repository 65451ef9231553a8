#pragma once

// The office folder's layout. Every path is relative to the folder the
// updater is started in, which it never changes.

// The installed release, replaced as a whole by an update.
inline constexpr wchar_t kApplicationDirectory[] = L"NIRVA";
inline constexpr wchar_t kApplicationExeName[] = L"nirva_acc.exe";
inline constexpr wchar_t kApplicationExe[] = L"NIRVA\\nirva_acc.exe";

// The previous release, kept until the next update so that a failed one
// can be rolled back.
inline constexpr wchar_t kBackupDirectory[] = L"NIRVA.bak";
inline constexpr wchar_t kBackupExe[] = L"NIRVA.bak\\nirva_acc.exe";
// Where the package is unpacked before it becomes the application.
inline constexpr wchar_t kStagingDirectory[] = L"update";
inline constexpr wchar_t kStagedExe[] = L"update\\nirva_acc.exe";
// A folder on its way out is renamed to this first and then removed, so
// that a crash never leaves it half removed under its own name.
inline constexpr wchar_t kDiscardDirectory[] = L"NIRVA.discard";
// Held open, unshared, by the updater that works in the folder, from any PC;
// deleted when it closes.
inline constexpr wchar_t kOfficeLockFile[] = L"nirva_updater.lock";
// The downloaded package.
inline constexpr wchar_t kPackageFile[] = L"nirva.zip";
// Beside a package while it downloads: the bytes received so far, and the
// record of what they are, so that a later attempt or start asks only for
// the rest. A package name with the first suffix is never taken for a package.
inline constexpr wchar_t kPartialSuffix[] = L".partial";
inline constexpr wchar_t kPartialRecordSuffix[] = L".partial.record";

// A release may carry a newer updater here; it replaces the running one.
inline constexpr wchar_t kReleasedUpdater[] = L"NIRVA\\nirva_updater.exe";

// The updater's own files in the office folder: the support log and its
// previous part (a support person reads them), the office's random id, and
// the latest outcome report that has not reached the server yet.
inline constexpr wchar_t kSupportLogFile[] = L"nirva_updater.log";
inline constexpr wchar_t kPreviousSupportLogFile[] = L"nirva_updater.log.1";
inline constexpr wchar_t kOfficeIdFile[] = L"nirva_updater.id";
inline constexpr wchar_t kPendingReportFile[] = L"nirva_updater.report";
// The latest release whose first start failed and which was taken back: an
// offer of it is not installed again. A support person may delete it.
inline constexpr wchar_t kRefusedReleaseFile[] = L"nirva_updater.refused";
// Made and removed again at once, to learn whether this user may change the
// office folder before anything is offered.
inline constexpr wchar_t kWriteProbeFile[] = L"nirva_updater.probe";
inline constexpr wchar_t kMovedWriteProbeFile[] = L"nirva_updater.probe.moved";
