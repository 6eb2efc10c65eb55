#pragma once

#include <cstddef>
#include <string>

#include "settings/profile_text.h"

// INI (profile) files with the behaviour of the Windows profile functions. On Windows these call
// GetPrivateProfileStringA and WritePrivateProfileStringA (texts converted between UTF-8 and the
// ANSI code page); elsewhere the file is UTF-8 and read and written by our own code, with the
// rules described in profile_text.h.
namespace tovrik {

using profile::ProfileText;

// GetPrivateProfileString: the value of section/key in file, or defaultValue (edited as in
// profile::Lookup) when the key, section or file is missing, cut to bufferSize - 1 bytes; Copied
// is the profile function's result (0 for "key=" and for an empty default).
ProfileText GetPrivateProfileText(const std::string& section, const std::string& key,
                                  const std::string& defaultValue, std::size_t bufferSize,
                                  const std::string& file);

// WritePrivateProfileString: stores key=value in section of file, creating the file, section and
// key as needed. False when nothing was stored (folder or file not writable, full disk, a text
// that cannot be stored); the file then keeps its earlier content.
//
// Linux, beyond the Windows function: lines the write does not touch keep every byte; the new
// content replaces the old atomically (temporary file in the same folder, flushed, renamed), so a
// crash or a full disk leaves the old or the new file; the file keeps its permission bits, owner
// and group (the latter two when allowed); writers in different processes take turns through an
// advisory lock on the file, so none loses another's key; a file with no write permission bit
// counts as read-only even for root, like the Windows read-only attribute; a symbolic link stays
// a link and its target is rewritten.
bool WritePrivateProfileText(const std::string& section, const std::string& key,
                             const std::string& value, const std::string& file);

}  // namespace tovrik
