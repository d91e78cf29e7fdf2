#pragma once
// The order of release versions: the setup program never replaces an installation with a release that comes
// before it, and the publisher never publishes one over the release it replaces unless told to.
// Plain C++: also built into the host tools.
//
// A version is read as whole numbers between dots, then whatever text follows them:
// - the numbers compare as numbers, part by part ("1.10" after "1.9"); a missing part counts as 0 and
//   leading zeros do not count, so "2.1", "2.1.0" and "02.01" are the same version;
// - text after the numbers ("3.1.0-бета", "2.0rc1", "1.2.x") makes the version a pre-release of those
//   numbers: after every lower number, before the bare numbers themselves. Two texts after the same numbers
//   compare piece by piece, runs of digits as numbers and anything else byte by byte ("beta2" before
//   "beta10"), a text before any longer one it begins;
// - a version that does not begin with a number ("beta") is a pre-release of 0: before every numbered one
//   (the empty text, with neither, is 0 itself).
// Every two versions are thus either the same or one comes first: none escapes the order.
#include <string>

enum class VersionOrder { Older, Same, Newer };

// Where version stands against other: Older when it comes first.
VersionOrder compareVersions(const std::string& version, const std::string& other);

// A release of version offered would take an installation of installed back to an earlier version. Nothing
// installed (empty) is never downgraded; the same version is no downgrade (it repairs).
bool isDowngrade(const std::string& installed, const std::string& offered);
