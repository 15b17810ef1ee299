#include "platform/file/imagedrive.h"

#include "platform/file/asciicase.h"
#include "platform/file/drives.h"
#include "platform/file/fileerror.h"
#include "platform/file/files.h"
#include "platform/file/imagelayout.h"
#include "platform/file/imagelock.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <linux/fs.h>
#include <mutex>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <tuple>
#include <unistd.h>

namespace {

constexpr uint32_t knownAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM
                                     | FILE_ATTRIBUTE_ARCHIVE;
constexpr struct {
    uint32_t bit;
    char letter;  // as mattrib shows and takes it
} attributeLetters[] = {{FILE_ATTRIBUTE_READONLY, 'r'},
                        {FILE_ATTRIBUTE_HIDDEN, 'h'},
                        {FILE_ATTRIBUTE_SYSTEM, 's'},
                        {FILE_ATTRIBUTE_ARCHIVE, 'a'}};

// A name in the root directory that mtools takes literally: no path, no wildcard.
bool IsPlainName(std::string_view name)
{
    constexpr std::string_view forbidden = "/\\*?[]:\"<>|";
    if (name.empty() || name.size() > 255 || name == "." || name == "..")
        return false;
    return std::none_of(name.begin(), name.end(), [&](char c) {
        return uint8_t(c) < 0x20 || forbidden.find(c) != std::string_view::npos;
    });
}

// VRNLxxxx.TMP with xxxx taken from the name, so that a copy left behind by a killed
// write can be told apart and matched to the file it replaces.
std::string TemporaryNameFor(std::string_view name)
{
    uint32_t hash = 2166136261u;  // FNV-1a
    for (char c : name)
        hash = (hash ^ uint8_t(AsciiUpper(c))) * 16777619u;
    char temporary[16];
    std::snprintf(temporary, sizeof temporary, "VRNL%04X.TMP", unsigned((hash ^ hash >> 16) & 0xFFFF));
    return temporary;
}

// What mtools says when it meets these causes, and each cause in the user's words. A full
// file system also shows "No space left on device", so the host's own comes last.
constexpr struct {
    std::string_view words;
    int code;
    const char* cause;
} mtoolsCauses[] = {
    {"Disk full", ENOSPC, "the file system in the disk image is full"},
    {"No free cluster", ENOSPC, "the file system in the disk image is full"},
    {"No directory slots", ENOSPC, "the root directory of the disk image's file system has no free entry"},
    {"No space left on device", ENOSPC, "the disk that holds the disk image is full"},
    {"zero number of heads or sectors", EINVAL, "its boot sector gives no number of heads or of sectors per track"},
    {"non DOS media", EINVAL, "no FAT boot sector is where the file system should begin"},
};

// Records a tool's failure as the failure of step, with the cause its words name and
// those words as the detail. A tool that could not give its verdict (not installed, not
// started, stopped) is the failure, whatever step needed it.
bool ToolFailure(FileStep step, const ToolResult& result)
{
    if (result.code != EIO)
        return RecordFailure(FileStep::ImageTool, result.code, result.message);
    for (const auto& known : mtoolsCauses) {
        if (result.said.find(known.words) != std::string::npos)
            return RecordFailure(step, known.code, known.cause, result.said);
    }
    return RecordFailure(step, result.code, result.message, result.said);
}

// The number after label at the start of a line of text ("sector size: 512 bytes").
uint64_t NumberAfter(std::string_view text, std::string_view label)
{
    for (size_t at = text.find(label); at != std::string_view::npos; at = text.find(label, at + 1)) {
        if (at == 0 || text[at - 1] == '\n')
            return std::strtoull(std::string(text.substr(at + label.size(), 24)).c_str(), nullptr, 10);
    }
    return 0;
}

std::vector<std::string_view> Lines(std::string_view text)
{
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        size_t end = text.find('\n');
        lines.push_back(text.substr(0, end));
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    }
    return lines;
}

struct Run {
    uint64_t first;
    uint64_t last;
    size_t owner;
};

// The cluster runs mshowfat prints after a name: "<2-4> <9>".
void AddRuns(std::string_view chain, size_t owner, std::vector<Run>& runs)
{
    for (size_t open = chain.find('<'); open != std::string_view::npos; open = chain.find('<', open + 1)) {
        char* end = nullptr;
        std::string run(chain.substr(open + 1, chain.find('>', open) - open - 1));
        uint64_t first = std::strtoull(run.c_str(), &end, 10);
        uint64_t last = *end == '-' ? std::strtoull(end + 1, nullptr, 10) : first;
        runs.push_back({first, std::max(first, last), owner});
    }
}

// The byte offset of the first byte of character number count (from 0) of UTF-8 text,
// or npos when text is shorter.
size_t CharacterOffset(std::string_view text, size_t count)
{
    for (size_t at = 0; at < text.size(); ++at) {
        if ((uint8_t(text[at]) & 0xC0) != 0x80 && count-- == 0)
            return at;
    }
    return std::string_view::npos;
}

std::string_view TrimmedEnd(std::string_view text)
{
    return text.substr(0, text.find_last_not_of(' ') + 1);
}

struct Listed {
    std::string shortName;
    std::string longName;
    uint64_t size = 0;
    bool directory = false;
};

// One entry of mdir's listing, "NAME     EXT       size yyyy-mm-dd  hh:mm  long name":
// the 8.3 name in the first twelve characters (not bytes), "<DIR>" as a directory's size.
// nullopt for the lines around the entries.
std::optional<Listed> ParseListing(std::string_view line)
{
    const size_t nameEnd = CharacterOffset(line, 12);
    if (nameEnd == std::string_view::npos)
        return std::nullopt;
    const size_t extension = CharacterOffset(line, 9);
    Listed entry;
    entry.shortName = TrimmedEnd(line.substr(0, CharacterOffset(line, 8)));
    if (std::string_view ext = TrimmedEnd(line.substr(extension, nameEnd - extension)); !ext.empty())
        entry.shortName += "." + std::string(ext);
    std::string_view rest = line.substr(nameEnd);
    std::string_view fields[3];  // size, date, time
    for (std::string_view& field : fields) {
        rest.remove_prefix(std::min(rest.size(), rest.find_first_not_of(' ')));
        field = rest.substr(0, rest.find(' '));
        rest.remove_prefix(field.size());
    }
    entry.directory = fields[0] == "<DIR>";
    const bool digits = !fields[0].empty() && fields[0].find_first_not_of("0123456789") == std::string_view::npos;
    if (entry.shortName.empty() || !(digits || entry.directory) || fields[1].size() != 10
        || fields[2].find(':') == std::string_view::npos)
        return std::nullopt;
    entry.size = digits ? std::strtoull(std::string(fields[0]).c_str(), nullptr, 10) : 0;
    if (rest.starts_with("  "))
        entry.longName = rest.substr(2);
    return entry;
}

std::string ReadSector(int fd, uint64_t offset)
{
    std::string sector(SectorSize, '\0');
    ssize_t got = pread(fd, sector.data(), sector.size(), off_t(offset));
    sector.resize(got > 0 ? size_t(got) : 0);
    return sector;
}

// The size of the regular file or block device open at fd, whose status is given.
uint64_t DiskSize(int fd, const struct stat& status)
{
    uint64_t size = uint64_t(status.st_size);
    if (S_ISBLK(status.st_mode) && ioctl(fd, BLKGETSIZE64, &size) != 0)
        size = 0;
    return size;
}

struct DiskEnds {
    dev_t device = 0;
    ino_t inode = 0;
    uint64_t size = 0;
    std::string head;  // first sector
    std::string tail;  // last sector
};

// The identity, the size and the first and last sectors of the regular file or block
// device at path.
std::optional<DiskEnds> ReadEnds(const std::string& path)
{
    const Descriptor fd = OpenWithoutBlocking(AT_FDCWD, path.c_str(), Openable::DiskImage);
    struct stat status {};
    if (!fd || fstat(fd.get(), &status) != 0) {
        RecordFailure(FileStep::OpenImage);
        return std::nullopt;
    }
    DiskEnds ends;
    ends.device = status.st_dev;
    ends.inode = status.st_ino;
    ends.size = DiskSize(fd.get(), status);
    ends.head = ReadSector(fd.get(), 0);
    ends.tail = ReadSector(fd.get(), ends.size > SectorSize ? ends.size - SectorSize : 0);
    return ends;
}

}  // namespace

ImageDrive::ImageDrive(std::string path, std::unique_ptr<QemuExport> qemuExport, std::string toolPath, uint64_t offset,
                       Origin origin)
    : path_(std::move(path)), export_(std::move(qemuExport)), toolPath_(std::move(toolPath)), offset_(offset),
      origin_(origin)
{
}

std::unique_ptr<ImageDrive> ImageDrive::Open(const std::string& path, int partition)
{
    if (path.find("@@") != std::string::npos) {
        RecordFailure(FileStep::OpenImage, EINVAL, "mtools cannot open a path that contains \"@@\"");
        return nullptr;
    }
    std::optional<DiskEnds> ends = ReadEnds(path);
    if (!ends)
        return nullptr;
    Origin origin{ends->device, ends->inode, ends->size};
    std::unique_ptr<QemuExport> exported;
    std::string toolPath = path;
    uint64_t size = RawDiskSize(ends->tail, ends->size);
    std::string_view driver = QemuDriverFor(ends->head);
    if (KeepsDataInOtherFiles(ends->head)) {
        RecordFailure(FileStep::ImageRefused, EINVAL,
                      "it keeps its data in other files (a qcow2 external data file, or the extents a VMDK "
                      "descriptor names), and a change would be written into them; qemu-img convert -O qcow2 "
                      "makes a copy that holds all of its data");
        return nullptr;
    }
    if (!driver.empty()) {
        // Backing files stay read-only: QEMU opens them so, and only the image is written.
        exported = QemuExport::Start(path, driver, access(path.c_str(), W_OK) == 0);
        if (!exported || !(ends = ReadEnds(exported->rawPath())))
            return nullptr;
        toolPath = exported->rawPath();
        size = origin.diskSize = ends->size;
    }

    std::string why;
    std::optional<FatArea> area = FindFatArea(ends->head, size, partition, why);
    if (!area) {
        RecordFailure(FileStep::ImageNotUnderstood, EINVAL, why);
        return nullptr;
    }
    std::unique_ptr<ImageDrive> drive(new ImageDrive(path, std::move(exported), toolPath, area->offset, origin));
    // minfo tells whether mtools finds a FAT there, and how big it says it is.
    ToolResult info = drive->Mtools("minfo", {"::"}, -1);
    auto number = [&](std::string_view label) { return NumberAfter(info.output, label); };
    const uint64_t sector = number("sector size: ");
    const uint64_t sectors = number("small size: ") ? number("small size: ") : number("big size: ");
    const uint64_t fatSectors = number("sectors per fat: ") ? number("sectors per fat: ") : number("Big fatlen=");
    // What comes before the clusters: reserved sectors, FATs and (but on FAT32) the root.
    const uint64_t systemBytes = (number("reserved (boot) sectors: ") + number("fats: ") * fatSectors) * sector
                                 + number("max available root directory slots: ") * 32;
    drive->clusterBytes_ = number("cluster size: ") * sector;
    if (!info.ok)
        ToolFailure(FileStep::ImageNotUnderstood, info);
    else if (sectors == 0 || drive->clusterBytes_ == 0)
        RecordFailure(FileStep::ImageNotUnderstood, EINVAL, "mtools did not tell the size of the file system");
    else if (sector * sectors > area->size)
        RecordFailure(FileStep::ImageNotUnderstood, EINVAL,
                      area->offset == 0 ? "the file system reaches beyond the end of the image (truncated?)"
                                        : "the file system reaches beyond the end of its partition");
    else if (systemBytes >= sector * sectors)
        RecordFailure(FileStep::ImageNotUnderstood, EINVAL,
                      "its FATs and root directory are larger than the file system");
    else
        return drive;
    return nullptr;
}

bool ImageDrive::inUse() const
{
    // An export's daemon got QEMU's locks, so nobody else has the image.
    return !export_ && HeldByAnotherProgram(toolPath_);
}

ToolResult ImageDrive::Mtools(const char* tool, std::vector<std::string> arguments, int lockFd, std::string_view input,
                              size_t outputLimit) const
{
    const std::string image = lockFd >= 0 ? "/proc/self/fd/" + std::to_string(lockFd) : toolPath_;
    std::vector<std::string> argv = {tool, "-i", image + "@@" + std::to_string(offset_)};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    std::vector<int> keepOpen;
    for (int fd : {lockFd, export_ ? export_->keepAliveFd() : -1}) {
        if (fd >= 0)
            keepOpen.push_back(fd);
    }
    return RunTool(argv, input, keepOpen, ToolLimits{.output = outputLimit});
}

// Locks the image the drive was opened on, and only while it still is.
std::optional<ImageLock> ImageDrive::Lock(ImageLock::Mode mode)
{
    std::optional<ImageLock> lock;
    if (!export_ || !export_->ended())
        lock = ImageLock::Take(toolPath_, mode);
    // A dead FUSE mount answers ENOTCONN until the watcher removes it, and then ENOENT.
    const int code = lock ? 0 : LastFileError().code;
    if (export_ && (export_->ended() || code == ENOTCONN || code == ENOENT)) {
        RecordFailure(FileStep::ImageTool, ENOTCONN,
                      "qemu-storage-daemon, which showed the disk image to Varnello, has ended; start Varnello again");
        return std::nullopt;
    }
    if (!lock)
        return std::nullopt;
    const Origin now = OriginNow(lock->fd());
    if (now != origin_) {
        RecordFailure(FileStep::ImageReplaced, ESTALE,
                      now.device == origin_.device && now.inode == origin_.inode
                          ? "its size changed from " + std::to_string(origin_.diskSize) + " to "
                                + std::to_string(now.diskSize) + " bytes"
                          : "its name no longer leads to the file that was opened");
        return std::nullopt;
    }
    return lock;
}

// The user's image is the locked file itself, or what an export shows.
ImageDrive::Origin ImageDrive::OriginNow(int lockFd) const
{
    struct stat image {};
    struct stat disk {};
    if ((export_ ? stat(path_.c_str(), &image) : fstat(lockFd, &image)) != 0 || fstat(lockFd, &disk) != 0)
        return {};
    return {image.st_dev, image.st_ino, DiskSize(lockFd, disk)};
}

// An export's raw disk shows no changes, but its image does (and only our daemon may
// write it); a raw image is the locked file itself, whatever its name leads to now.
ImageDrive::Identity ImageDrive::CurrentIdentity(int lockFd) const
{
    struct stat status {};
    if (export_ ? stat(path_.c_str(), &status) != 0 : fstat(lockFd, &status) != 0)
        return {};
    return {status.st_dev, status.st_ino, status.st_size,
            int64_t(status.st_mtim.tv_sec) * 1'000'000'000 + status.st_mtim.tv_nsec};
}

// The root directory's entries, from mdir, with their cluster chains checked through
// mshowfat: a cluster that shows up twice (a loop, or two files sharing it) makes every
// entry holding it unsound, and a chain longer or shorter than the entry's size needs
// makes it damaged. Kept while the image's identity stays the same.
bool ImageDrive::Refresh(int lockFd, bool force)
{
    Identity now = CurrentIdentity(lockFd);
    if (!force && entries_ && now == cachedFor_)
        return true;
    entries_.reset();
    reached_.clear();
    contents_.clear();
    attributes_.clear();

    ToolResult listing = Mtools("mdir", {"-a", "-f", "::/"}, lockFd);
    if (!listing.ok)
        return ToolFailure(FileStep::ImageNotUnderstood, listing);
    std::vector<Entry> entries;
    for (std::string_view line : Lines(listing.output)) {
        if (std::optional<Listed> listed = ParseListing(line))
            entries.push_back({listed->shortName, listed->longName, listed->size, listed->directory, false, false});
    }

    if (!entries.empty()) {
        constexpr std::string_view noClusters = " Root directory or empty file";
        ToolResult chains = Mtools("mshowfat", {"::/", "::/*"}, lockFd);
        if (!chains.ok)  // the chains are unknown, not damaged
            return ToolFailure(FileStep::ImageTool, chains);
        std::vector<Run> runs;
        for (std::string_view line : Lines(chains.output)) {
            size_t chain = line.find(" <");  // '<' cannot be part of a FAT name
            if (chain == std::string_view::npos && line.ends_with(noClusters))
                chain = line.size() - noClusters.size();
            std::string_view name = line.substr(0, chain);
            if (!name.starts_with("::/") || chain == std::string_view::npos)
                continue;
            name.remove_prefix(3);
            size_t owner = entries.size();  // the root directory's own chain
            for (size_t i = 0; i < entries.size(); ++i) {
                // mshowfat names an entry as mdir -b does: by its long name, if any.
                if ((entries[i].longName.empty() ? entries[i].shortName : entries[i].longName) == name) {
                    owner = i;
                    entries[i].sound = true;
                }
            }
            AddRuns(line.substr(chain), owner, runs);
        }
        std::sort(runs.begin(), runs.end(),
                  [](const Run& a, const Run& b) { return std::tie(a.first, a.last) < std::tie(b.first, b.last); });
        for (size_t i = 1; i < runs.size(); ++i) {
            for (const Run* run : {&runs[i - 1], &runs[i]}) {
                if (runs[i].first <= runs[i - 1].last && run->owner < entries.size())
                    entries[run->owner].sound = false;
            }
        }
        std::vector<uint64_t> clusters(entries.size() + 1);  // the last: the root directory's
        for (const Run& run : runs)
            clusters[run.owner] += run.last - run.first + 1;
        for (size_t i = 0; i < entries.size(); ++i) {
            const uint64_t needed = (entries[i].size + clusterBytes_ - 1) / clusterBytes_;
            entries[i].sizeFitsChain = entries[i].directory || clusters[i] == needed;
        }
    }
    entries_ = std::move(entries);
    cachedFor_ = now;
    return true;
}

// True when a tool run on name reaches just expected entries of the root directory, as
// mtools matches names (by 8.3 or long name, in its own way of comparing them); otherwise
// records the failure of step.
bool ImageDrive::Reaches(const std::string& name, size_t expected, FileStep step, int lockFd)
{
    const std::string key = AsciiUppercase(name);
    auto reached = reached_.find(key);
    if (reached == reached_.end()) {
        // mattrib shows one line for each entry it reaches, a directory's own included.
        ToolResult shown = Mtools("mattrib", {"::/" + name}, lockFd);
        if (!shown.ok && !(shown.output.empty() && shown.said.find("not found") != std::string::npos))
            return ToolFailure(FileStep::ImageNotUnderstood, shown);
        reached = reached_.emplace(key, Lines(shown.output).size()).first;
    }
    return reached->second == expected
           || RecordFailure(step, EEXIST,
                            "another entry of the root directory answers to the name " + key
                                + " too (by its 8.3 or long name), and a change could reach it; check the file "
                                  "system with fsck.fat and rename the other entry");
}

const ImageDrive::Entry* ImageDrive::Find(std::string_view name) const
{
    if (!entries_)
        return nullptr;
    for (const Entry& entry : *entries_) {
        if (EqualIgnoringAsciiCase(entry.shortName, name))
            return &entry;
    }
    return nullptr;
}

const ImageDrive::Entry* ImageDrive::Usable(std::string_view name, int lockFd)
{
    const Entry* entry = Find(name);
    if (!entry)
        RecordFailure(FileStep::Inspect, ENOENT);
    else if (entry->directory)
        RecordFailure(FileStep::Inspect, EISDIR);
    else if (!entry->sound)
        RecordFailure(FileStep::Inspect, EIO, "the file system is damaged there (its clusters loop or are shared); fsck.fat can repair it");
    else if (Reaches(entry->shortName, 1, FileStep::Inspect, lockFd))
        return entry;
    return nullptr;
}

// Looks name up under a read lock, which it leaves in lock.
const ImageDrive::Entry* ImageDrive::Lookup(std::string_view name, std::optional<ImageLock>& lock)
{
    if (!IsPlainName(name)) {
        RecordFailure(FileStep::ResolvePath, EINVAL);
        return nullptr;
    }
    lock = Lock(ImageLock::Mode::Read);
    if (!lock || !Refresh(lock->fd(), false))
        return nullptr;
    // Whatever a killed write left is dealt with before the file is looked at. Where that
    // cannot be done (no write permission), an original that is still there is good.
    const Entry* copy = Find(TemporaryNameFor(name));
    if (copy && !copy->directory) {
        lock.reset();
        if (!Repair(name) && !Find(name))
            return nullptr;
        lock = Lock(ImageLock::Mode::Read);
        if (!lock || !Refresh(lock->fd(), false))
            return nullptr;
    }
    return Usable(name, lock->fd());
}

bool ImageDrive::Repair(std::string_view name)
{
    std::optional<ImageLock> lock = Lock(ImageLock::Mode::Write);
    return lock && RepairLocked(name, lock->fd());
}

// Under the write lock: a copy left under the temporary name is removed when the
// original is there, and renamed into its place when it is not (it was complete and
// flushed before the original was removed).
bool ImageDrive::RepairLocked(std::string_view name, int lockFd)
{
    if (!Refresh(lockFd, false))
        return false;
    const Entry* copy = Find(TemporaryNameFor(name));
    if (!copy || copy->directory)
        return true;
    const std::string copyName = copy->shortName;
    const std::string target = AsciiUppercase(name);
    const bool original = Find(name) != nullptr;
    if (!original && !copy->sound)
        return RecordFailure(FileStep::Rename, EIO, "the copy left by an interrupted save is damaged");
    if (!Reaches(copyName, 1, FileStep::Rename, lockFd) || (!original && !Reaches(target, 0, FileStep::Rename, lockFd)))
        return false;
    ToolResult repaired = original ? Mtools("mdel", {"::/" + copyName}, lockFd)
                                   : Mtools("mren", {"-D", "s", "::/" + copyName, "::/" + target}, lockFd);
    if (!repaired.ok)
        return ToolFailure(FileStep::Rename, repaired);
    if (fdatasync(lockFd) != 0)
        return RecordFailure(FileStep::FlushTemporary, errno);
    return Refresh(lockFd, true);
}

std::optional<uint32_t> ImageDrive::ReadAttributes(const std::string& entryName, int lockFd)
{
    if (auto cached = attributes_.find(entryName); cached != attributes_.end())
        return cached->second;
    ToolResult shown = Mtools("mattrib", {"::/" + entryName}, lockFd);
    size_t name = shown.output.find("::/");
    if (!shown.ok || name == std::string::npos) {
        if (shown.ok)
            RecordFailure(FileStep::Attributes, EIO, "mattrib did not list the file");
        else
            ToolFailure(FileStep::Attributes, shown);
        return std::nullopt;
    }
    uint32_t attributes = 0;
    for (auto [bit, letter] : attributeLetters) {
        if (shown.output.substr(0, name).find(AsciiUpper(letter)) != std::string::npos)
            attributes |= bit;
    }
    return attributes_[entryName] = attributes;
}

bool ImageDrive::WriteAttributes(const std::string& entryName, uint32_t attributes, int lockFd)
{
    std::vector<std::string> arguments;
    for (auto [bit, letter] : attributeLetters)
        arguments.push_back(std::string(attributes & bit ? "+" : "-") + letter);
    arguments.push_back("::/" + entryName);
    ToolResult changed = Mtools("mattrib", arguments, lockFd);
    return changed.ok || ToolFailure(FileStep::Attributes, changed);
}

bool ImageDrive::exists(std::string_view name)
{
    std::optional<ImageLock> lock;
    return Lookup(name, lock) != nullptr;
}

std::optional<std::string> ImageDrive::ReadContents(const Entry& entry, int lockFd)
{
    if (auto cached = contents_.find(entry.shortName); cached != contents_.end())
        return cached->second;
    ToolResult typed = Mtools("mtype", {"::/" + entry.shortName}, lockFd, {}, MaxFileSize);
    if (!typed.ok) {
        ToolFailure(FileStep::Read, typed);
        return std::nullopt;
    }
    // mtype gives what the chain holds, whatever size the directory entry says.
    if (!entry.sizeFitsChain || typed.output.size() != entry.size) {
        RecordFailure(FileStep::Read, EIO,
                      "its size in the directory (" + std::to_string(entry.size)
                          + " bytes) does not match its clusters; the file system is damaged there, and fsck.fat "
                            "can repair it");
        return std::nullopt;
    }
    return contents_[entry.shortName] = std::move(typed.output);
}

std::optional<std::string> ImageDrive::read(std::string_view name)
{
    std::optional<ImageLock> lock;
    const Entry* entry = Lookup(name, lock);
    return entry ? ReadContents(*entry, lock->fd()) : std::nullopt;
}

uint32_t ImageDrive::attributes(std::string_view name)
{
    std::optional<ImageLock> lock;
    const Entry* entry = Lookup(name, lock);
    std::optional<uint32_t> found = entry ? ReadAttributes(entry->shortName, lock->fd()) : std::nullopt;
    return found ? *found : INVALID_FILE_ATTRIBUTES;
}

bool ImageDrive::setAttributes(std::string_view name, uint32_t attributes)
{
    if (!IsPlainName(name))
        return RecordFailure(FileStep::ResolvePath, EINVAL);
    std::optional<ImageLock> lock = Lock(ImageLock::Mode::Write);
    if (!lock || !RepairLocked(name, lock->fd()))
        return false;
    const Entry* entry = Usable(name, lock->fd());
    if (!entry)
        return false;
    const std::string entryName = entry->shortName;
    attributes &= knownAttributes;
    if (!WriteAttributes(entryName, attributes, lock->fd()))
        return false;
    if (fdatasync(lock->fd()) != 0)
        return RecordFailure(FileStep::Attributes, errno);
    cachedFor_ = CurrentIdentity(lock->fd());
    attributes_[entryName] = attributes;
    return true;
}

bool ImageDrive::checkReplaceable(std::string_view name)
{
    // The very lock a write takes: it fails as the write would, and changes nothing.
    std::optional<ImageLock> lock = Lock(ImageLock::Mode::Write);
    if (!lock || !RepairLocked(name, lock->fd()))
        return false;
    const Entry* entry = Usable(name, lock->fd());
    return entry && ReadContents(*entry, lock->fd());
}

bool ImageDrive::rewrite(std::string_view name, const FileChange& change)
{
    if (!IsPlainName(name))
        return RecordFailure(FileStep::ResolvePath, EINVAL);
    std::optional<ImageLock> lock = Lock(ImageLock::Mode::Write);
    if (!lock || !RepairLocked(name, lock->fd()))
        return false;
    const int fd = lock->fd();
    const Entry* entry = Usable(name, fd);
    if (!entry)
        return false;
    const std::string target = entry->shortName;
    // A long name that only spells the 8.3 name in other letter cases is kept.
    const std::string newName = EqualIgnoringAsciiCase(entry->longName, target) ? entry->longName : target;
    const std::optional<std::string> current = ReadContents(*entry, fd);
    std::string bytes;
    if (!current || !change(*current, bytes))
        return false;
    if (bytes == *current)
        return true;
    if (bytes.size() > MaxFileSize)
        return RecordFailure(FileStep::WriteTemporary, EFBIG);
    // Repairing removed any file copy; whatever else answers to the name would be
    // written into or removed.
    const std::string temporary = TemporaryNameFor(name);
    if (!Reaches(temporary, 0, FileStep::CreateTemporary, fd))
        return false;
    std::optional<uint32_t> attributes = ReadAttributes(target, fd);
    if (!attributes)
        return false;

    // Until the original is removed, a failure (already recorded) leaves it alone and
    // takes the copy away.
    auto abandon = [&](bool failed) {
        Mtools("mdel", {"::/" + temporary}, fd);
        entries_.reset();
        return failed;
    };
    ToolResult written = Mtools("mcopy", {"-D", "o", "-", "::/" + temporary}, fd, bytes);
    if (!written.ok)
        return abandon(ToolFailure(FileStep::WriteTemporary, written));
    if (!WriteAttributes(temporary, *attributes, fd))
        return abandon(false);
    ToolResult check = Mtools("mtype", {"::/" + temporary}, fd, {}, MaxFileSize);
    if (!check.ok)
        return abandon(ToolFailure(FileStep::WriteTemporary, check));
    if (check.output != bytes)
        return abandon(RecordFailure(FileStep::WriteTemporary, EIO, "the copy written into the image reads back differently"));
    if (fdatasync(fd) != 0)
        return abandon(RecordFailure(FileStep::FlushTemporary, errno));

    // From here on the complete copy stays whatever happens: the next lookup finishes
    // the job should we fail or be killed. The names stay as they are on success.
    std::vector<Entry> entries = std::move(*entries_);
    entries_.reset();
    ToolResult removed = Mtools("mdel", {"::/" + target}, fd);
    if (!removed.ok)
        return ToolFailure(FileStep::Rename, removed);
    ToolResult renamed = Mtools("mren", {"-D", "s", "::/" + temporary, "::/" + newName}, fd);
    if (!renamed.ok)
        return ToolFailure(FileStep::Rename, renamed);
    if (fdatasync(fd) != 0)
        return RecordFailure(FileStep::FlushTemporary, errno);
    for (Entry& kept : entries) {
        if (kept.shortName == target) {
            kept.size = bytes.size();
            kept.sizeFitsChain = true;
        }
    }
    entries_ = std::move(entries);
    cachedFor_ = CurrentIdentity(fd);
    contents_[target] = std::move(bytes);
    attributes_[target] = *attributes;
    return true;
}

namespace {

struct OpenedImage {
    std::string path;
    std::unique_ptr<ImageDrive> drive;
    FileError error;
};

// The image drives opened so far, by letter; destroyed at exit, which stops any export.
std::map<char, OpenedImage>& OpenedImages()
{
    static std::map<char, OpenedImage> opened;
    return opened;
}

std::mutex openedGuard;

}  // namespace

std::optional<ImageFile> ImageFileFor(std::string_view dosPath)
{
    const std::optional<DosName> parsed = ParseDosPath(dosPath);
    if (!parsed)
        return std::nullopt;
    const std::string path = DriveMapping(parsed->letter);
    struct stat status {};
    if (path.empty() || stat(path.c_str(), &status) != 0 || !(S_ISREG(status.st_mode) || S_ISBLK(status.st_mode)))
        return std::nullopt;

    std::lock_guard<std::mutex> hold(openedGuard);
    std::map<char, OpenedImage>& opened = OpenedImages();
    auto found = opened.find(parsed->letter);
    if (found == opened.end() || found->second.path != path) {
        const std::string variable = std::string("VARNELLO_PARTITION_") + parsed->letter;
        const char* chosen = std::getenv(variable.c_str());
        const std::string_view partition = chosen ? chosen : "";
        OpenedImage fresh{path, nullptr, {}};
        if (partition.empty())
            fresh.drive = ImageDrive::Open(path, 0);
        else if (partition.size() == 1 && partition[0] >= '1' && partition[0] <= '4')
            fresh.drive = ImageDrive::Open(path, partition[0] - '0');
        else
            RecordFailure(FileStep::ImageNotUnderstood, EINVAL, variable + " must be a partition number from 1 to 4");
        if (!fresh.drive)
            fresh.error = LastFileError();
        found = opened.insert_or_assign(parsed->letter, std::move(fresh)).first;
    }
    const OpenedImage& drive = found->second;
    if (!drive.drive)
        RecordFailure(drive.error.step, drive.error.code, drive.error.detail, drive.error.said);
    return ImageFile{drive.drive.get(), parsed->name};
}

void CloseImageDrives()
{
    std::lock_guard<std::mutex> hold(openedGuard);
    OpenedImages().clear();
}
