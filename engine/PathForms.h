#pragma once
// The ways one path is written (drive form, long-path prefix, long and short names,
// NT device form) and the one rule by which a found name is compared with the target.

#include <string>
#include <utility>
#include <vector>

namespace tarnwick {

// The four characters \\?\ that lift the path length limit.
inline constexpr wchar_t kLongPathPrefix[] = L"\\\\?\\";
inline constexpr std::size_t kLongPathPrefixLength = 4;

bool HasLongPathPrefix(const std::wstring& path);
std::wstring WithLongPathPrefix(const std::wstring& path);
// The path without its first four characters; names that carry the prefix lose it.
std::wstring DropLongPathPrefix(const std::wstring& path);

// NT device names behind drive letters (\Device\HarddiskVolume2 -> C:), in the order
// the drives were added.
class CDeviceMap {
public:
    // A device already present keeps its place and takes the new drive.
    void Set(const std::wstring& device, const std::wstring& drive);
    bool empty() const { return entries_.empty(); }
    const std::vector<std::pair<std::wstring, std::wstring>>& entries() const { return entries_; }

private:
    std::vector<std::pair<std::wstring, std::wstring>> entries_;
};

// Fills a map from the multi-string list of drive roots (C:\ D:\ ... ended by an
// empty entry); drives whose device cannot be queried are left out.
CDeviceMap BuildDeviceMap(const wchar_t* driveStrings);
// The device map of the drives present now; empty when they cannot be listed.
CDeviceMap BuildCurrentDeviceMap();

// Turns \Device\HarddiskVolume2\Data into C:\Data. The first device (in map order) that
// begins the name at a path boundary wins. False, and result untouched, when none does.
// name and result may be the same string.
bool DeviceFormToDriveForm(const CDeviceMap& map, const std::wstring& name, std::wstring& result);

// The long form, always with the long-path prefix; the prefixed input when the system
// cannot produce it.
std::wstring LongForm(const std::wstring& path);
// The short (8.3) form, prefix kept unless stripPrefix; empty when there is none.
std::wstring ShortForm(const std::wstring& path, bool stripPrefix);

// The target of one scan, in every form a found name may take.
struct CScanTarget {
    std::wstring longForm;
    std::wstring shortForm;
    std::wstring longPrefix;   // longForm + backslash
    std::wstring shortPrefix;  // shortForm + backslash
    bool showAll = false;
    bool hasShortForm = false;  // shortForm is a second, different spelling worth comparing
    bool isFolder = false;      // everything beneath the path matches too
};

// In object-name mode the forms lose the long-path prefix, as the names found there have none.
CScanTarget BuildScanTarget(const std::wstring& path, bool objectNameMode, bool showAll);

// True when candidate is the target or, for a folder, lies beneath it (case ignored).
bool MatchesTarget(const CScanTarget& target, const std::wstring& candidate);

// Whether a file or folder of that name exists, by full-path resolution and a find-first.
bool FileStatusExists(const std::wstring& path);

}  // namespace tarnwick
