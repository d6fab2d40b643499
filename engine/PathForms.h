#pragma once
// The ways one path is written (drive form, UNC form, long-path prefix, long and short
// names, NT device form, a drive letter that stands for a folder or a share) and the one
// rule by which a found name is compared with the target.

#include <array>
#include <string>
#include <utility>
#include <vector>

namespace tarnwick {

// The four characters \\?\ that lift the path length limit; a share is written \\?\UNC\.
inline constexpr wchar_t kLongPathPrefix[] = L"\\\\?\\";
inline constexpr std::size_t kLongPathPrefixLength = 4;

bool HasLongPathPrefix(const std::wstring& path);
// C:\x becomes \\?\C:\x and \\server\share\x becomes \\?\UNC\server\share\x.
std::wstring WithLongPathPrefix(const std::wstring& path);
// The reverse: \\?\C:\x becomes C:\x and \\?\UNC\server\share becomes \\server\share.
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

// Turns \Device\HarddiskVolume2\Data into C:\Data. The first device (in map order) that
// begins the name at a path boundary wins. Names that need no map are converted too:
// \??\C:\Data (as Wine names objects) and the redirector's \Device\Mup\server\share\x
// (UNC \\server\share\x). False, and result untouched, when nothing applies. name and
// result may be the same string.
bool DeviceFormToDriveForm(const CDeviceMap& map, const std::wstring& name, std::wstring& result);

// What each drive letter stands for when it is not a volume of its own: a subst drive
// (a folder, C:\Real) or a mapped network drive (a share, \\server\share).
class CDriveAliases {
public:
    // target: what the system says the letter is (QueryDosDeviceW's first string).
    void Add(wchar_t letter, const std::wstring& target);
    // The path written through the letter's folder or share; unchanged when the path's
    // letter is no alias. Keeps a long-path prefix.
    std::wstring Resolve(const std::wstring& path) const;

private:
    std::array<std::wstring, 26> folders_;
};

// What every drive letter is, asked of the system once for a whole command: the device
// behind a volume's letter, and the folder or share a subst or network letter stands for.
struct CDriveTable {
    CDeviceMap devices;
    CDriveAliases aliases;
};

// The table of the drives in the multi-string list of drive roots (C:\ D:\ ... ended by an
// empty entry). Drives whose device cannot be queried are left out; a drive that stands for
// a folder (subst) has no device of its own, as the system names its files by the folder's.
CDriveTable ReadDriveTable(const wchar_t* driveStrings);
// The table of the drives present now; empty when they cannot be listed.
CDriveTable ReadCurrentDriveTable();
// The device map alone of such a list.
CDeviceMap BuildDeviceMap(const wchar_t* driveStrings);

// The path's last element (report.txt of C:\Data\report.txt), as the shell strips a path.
std::wstring LastElement(const std::wstring& path);
// The path without its last element, as the folder pickers open at it.
std::wstring ParentFolder(const std::wstring& path);
// The path's folder joined with a new name (one backslash between, none doubled).
std::wstring RenamedPath(const std::wstring& path, const std::wstring& newName);
// A folder joined with the path's last element.
std::wstring MovedPath(const std::wstring& path, const std::wstring& destination);

// The long form, always with the long-path prefix; the prefixed input when the system
// cannot produce it.
std::wstring LongForm(const std::wstring& path);
// The short (8.3) form, prefix kept unless stripPrefix; empty when there is none.
std::wstring ShortForm(const std::wstring& path, bool stripPrefix);

// One more spelling of the target: where a link leads, or another name of a file with
// several. Written as longForm is; the prefix is for a folder's contents.
struct CTargetForm {
    std::wstring form;
    std::wstring prefix;
};

// The target of one scan, in every form a found name may take.
struct CScanTarget {
    std::wstring longForm;
    std::wstring shortForm;
    std::wstring longPrefix;   // longForm + backslash (a drive root keeps its one)
    std::wstring shortPrefix;  // shortForm + backslash
    bool showAll = false;
    bool hasShortForm = false;  // shortForm is a second, different spelling worth comparing
    bool isFolder = false;      // everything beneath the path matches too
    std::vector<CTargetForm> otherForms;
};

// The target as the scans compare it, from a path already normalised (drive letters that
// stand for a folder resolved). In object-name mode the forms lose the long-path prefix, as
// the names found there have none. otherNames: the target's other spellings, normalised too.
CScanTarget BuildScanTarget(const std::wstring& path, bool objectNameMode, bool showAll,
                            const std::vector<std::wstring>& otherNames = {});

// A name the system reports for a lock (a handle's name, a module's or a view's file name),
// written as the target is: through what its drive letter stands for. What the match compares.
inline std::wstring ComparableName(const CDriveAliases& aliases, const std::wstring& reported)
{
    return aliases.Resolve(reported);
}
// The path a row shows for a reported name: written as the target is, in long form, without
// the long-path prefix. The scans and the check before a handle is closed all write it so.
std::wstring RowPathOf(const CDriveAliases& aliases, const std::wstring& reported);

// True when candidate is the target or, for a folder, lies beneath it (case ignored as
// the file system ignores it).
bool MatchesTarget(const CScanTarget& target, const std::wstring& candidate);

// Whether a file or folder of that name exists, by full-path resolution and a find-first.
bool FileStatusExists(const std::wstring& path);

}  // namespace tarnwick
