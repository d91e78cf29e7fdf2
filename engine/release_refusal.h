#pragma once
// The install run's check of a trusted release against the installation and the clock, before anything is
// fetched or changed: a release that would take the installation back to an earlier version, or whose
// manifest has expired, is refused with a message and a log line of its own.
#include <string>

#include "engine/install_record_reader.h"
#include "engine/manifest.h"
#include "engine/run_context.h"

// The version the record names; empty when it names none (nothing installed, or a record unreadable).
std::string recordedVersionOf(const InstallRecord& record);

// The failure texts, with the versions and the expiry in them.
std::wstring downgradeText(const std::string& offeredVersion, const std::string& installedVersion);
std::wstring expiredText(const std::string& expires);

// True when the release may replace the installation in run.installDir; otherwise the run has reported the
// failure and nothing on disk has changed.
bool acceptRelease(const RunContext& run, const Manifest& manifest);
