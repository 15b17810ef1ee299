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

// Records a tool's failure, in its own words, as the failure of step.
bool ToolFailure(FileStep step, const ToolResult& result)
{
    return RecordFailure(step, result.code, result.message);
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

std::string ReadSector(int fd, uint64_t offset)
{
    std::string sector(SectorSize, '\0');
    ssize_t got = pread(fd, sector.data(), sector.size(), off_t(offset));
    sector.resize(got > 0 ? size_t(got) : 0);
    return sector;
}

struct DiskEnds {
    uint64_t size = 0;
    std::string head;  // first sector
    std::string tail;  // last sector
};

// The size and the first and last sectors of the regular file or block device at path.
std::optional<DiskEnds> ReadEnds(const std::string& path)
{
    const Descriptor fd = OpenWithoutBlocking(AT_FDCWD, path.c_str(), Openable::DiskImage);
    struct stat status {};
    if (!fd || fstat(fd.get(), &status) != 0) {
        RecordFailure(FileStep::OpenImage);
        return std::nullopt;
    }
    DiskEnds ends;
    ends.size = uint64_t(status.st_size);
    if (S_ISBLK(status.st_mode) && ioctl(fd.get(), BLKGETSIZE64, &ends.size) != 0)
        ends.size = 0;
    ends.head = ReadSector(fd.get(), 0);
    ends.tail = ReadSector(fd.get(), ends.size > SectorSize ? ends.size - SectorSize : 0);
    return ends;
}

}  // namespace

ImageDrive::ImageDrive(std::string path, std::unique_ptr<QemuExport> qemuExport, std::string toolPath, uint64_t offset)
    : path_(std::move(path)), export_(std::move(qemuExport)), toolPath_(std::move(toolPath)), offset_(offset)
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
    std::unique_ptr<QemuExport> exported;
    std::string toolPath = path;
    uint64_t size = RawDiskSize(ends->tail, ends->size);
    std::string_view driver = QemuDriverFor(ends->head);
    if (!driver.empty()) {
        exported = QemuExport::Start(path, driver, access(path.c_str(), W_OK) == 0);
        if (!exported || !(ends = ReadEnds(exported->rawPath())))
            return nullptr;
        toolPath = exported->rawPath();
        size = ends->size;
    }

    std::optional<uint64_t> offset = FatOffset(ends->head, size, partition);
    if (!offset) {
        RecordFailure(FileStep::ImageNotUnderstood, EINVAL, "the partition is empty or reaches beyond the end of the image");
        return nullptr;
    }
    std::unique_ptr<ImageDrive> drive(new ImageDrive(path, std::move(exported), toolPath, *offset));
    // minfo tells whether mtools finds a FAT there, and how big it says it is.
    ToolResult info = drive->Mtools("minfo", {"::"}, -1);
    uint64_t sector = NumberAfter(info.output, "sector size: ");
    uint64_t sectors = NumberAfter(info.output, "small size: ");
    if (sectors == 0)
        sectors = NumberAfter(info.output, "big size: ");
    if (!info.ok)
        ToolFailure(FileStep::ImageNotUnderstood, info);
    else if (sector == 0 || sectors == 0)
        RecordFailure(FileStep::ImageNotUnderstood, EINVAL, "mtools did not tell the size of the file system");
    else if (sector * sectors > size - *offset)
        RecordFailure(FileStep::ImageNotUnderstood, EINVAL, "the file system reaches beyond the end of the image (truncated?)");
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
// entry holding it unsound. Kept while the image's identity stays the same.
bool ImageDrive::Refresh(int lockFd, bool force)
{
    Identity now = CurrentIdentity(lockFd);
    if (!force && entries_ && now == cachedFor_)
        return true;
    entries_.reset();
    contents_.clear();
    attributes_.clear();

    ToolResult listing = Mtools("mdir", {"-a", "-f", "-b", "::/"}, lockFd);
    if (!listing.ok)
        return ToolFailure(FileStep::ImageNotUnderstood, listing);
    std::vector<Entry> entries;
    for (std::string_view line : Lines(listing.output)) {
        if (!line.starts_with("::/") || line.size() <= 3)
            continue;
        line.remove_prefix(3);
        bool directory = line.ends_with('/');
        if (directory)
            line.remove_suffix(1);
        entries.push_back({std::string(line), directory, false});
    }

    if (!entries.empty()) {
        constexpr std::string_view noClusters = " Root directory or empty file";
        ToolResult chains = Mtools("mshowfat", {"::/", "::/*"}, lockFd);
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
                if (entries[i].name == name) {
                    owner = i;
                    entries[i].sound = chains.ok;
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
    }
    entries_ = std::move(entries);
    cachedFor_ = now;
    return true;
}

bool ImageDrive::RefreshShared()
{
    std::optional<ImageLock> lock = ImageLock::Take(toolPath_, ImageLock::Mode::Read);
    return lock && Refresh(lock->fd(), false);
}

const ImageDrive::Entry* ImageDrive::Find(std::string_view name) const
{
    if (!entries_)
        return nullptr;
    for (const Entry& entry : *entries_) {
        if (EqualIgnoringAsciiCase(entry.name, name))
            return &entry;
    }
    return nullptr;
}

const ImageDrive::Entry* ImageDrive::Usable(std::string_view name) const
{
    const Entry* entry = Find(name);
    if (!entry)
        RecordFailure(FileStep::Inspect, ENOENT);
    else if (entry->directory)
        RecordFailure(FileStep::Inspect, EISDIR);
    else if (!entry->sound)
        RecordFailure(FileStep::Inspect, EIO, "the file system is damaged there (its clusters loop or are shared); fsck.fat can repair it");
    else
        return entry;
    return nullptr;
}

const ImageDrive::Entry* ImageDrive::Lookup(std::string_view name)
{
    if (!IsPlainName(name)) {
        RecordFailure(FileStep::ResolvePath, EINVAL);
        return nullptr;
    }
    if (!RefreshShared())
        return nullptr;
    // Whatever a killed write left is dealt with before the file is looked at. Where that
    // cannot be done (no write permission), an original that is still there is good.
    const Entry* copy = Find(TemporaryNameFor(name));
    if (copy && !copy->directory && !Repair(name) && !Find(name))
        return nullptr;
    return Usable(name);
}

bool ImageDrive::Repair(std::string_view name)
{
    std::optional<ImageLock> lock = ImageLock::Take(toolPath_, ImageLock::Mode::Write);
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
    if (!Find(name) && !copy->sound)
        return RecordFailure(FileStep::Rename, EIO, "the copy left by an interrupted save is damaged");
    ToolResult repaired = Find(name) ? Mtools("mdel", {"::/" + copy->name}, lockFd)
                                     : Mtools("mren", {"-D", "s", "::/" + copy->name, "::/" + AsciiUppercase(name)}, lockFd);
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
        RecordFailure(FileStep::Attributes, shown.ok ? EIO : shown.code, shown.message);
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
    return Lookup(name) != nullptr;
}

std::optional<std::string> ImageDrive::ReadContents(const std::string& entryName, int lockFd)
{
    if (auto cached = contents_.find(entryName); cached != contents_.end())
        return cached->second;
    ToolResult typed = Mtools("mtype", {"::/" + entryName}, lockFd, {}, MaxFileSize);
    if (!typed.ok) {
        ToolFailure(FileStep::Read, typed);
        return std::nullopt;
    }
    return contents_[entryName] = std::move(typed.output);
}

std::optional<std::string> ImageDrive::read(std::string_view name)
{
    const Entry* entry = Lookup(name);
    if (!entry)
        return std::nullopt;
    const std::string entryName = entry->name;
    std::optional<ImageLock> lock = ImageLock::Take(toolPath_, ImageLock::Mode::Read);
    return lock ? ReadContents(entryName, lock->fd()) : std::nullopt;
}

uint32_t ImageDrive::attributes(std::string_view name)
{
    const Entry* entry = Lookup(name);
    if (!entry)
        return INVALID_FILE_ATTRIBUTES;
    const std::string entryName = entry->name;
    std::optional<ImageLock> lock = ImageLock::Take(toolPath_, ImageLock::Mode::Read);
    std::optional<uint32_t> found = lock ? ReadAttributes(entryName, lock->fd()) : std::nullopt;
    return found ? *found : INVALID_FILE_ATTRIBUTES;
}

bool ImageDrive::setAttributes(std::string_view name, uint32_t attributes)
{
    if (!IsPlainName(name))
        return RecordFailure(FileStep::ResolvePath, EINVAL);
    std::optional<ImageLock> lock = ImageLock::Take(toolPath_, ImageLock::Mode::Write);
    if (!lock || !RepairLocked(name, lock->fd()))
        return false;
    const Entry* entry = Usable(name);
    if (!entry)
        return false;
    const std::string entryName = entry->name;
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
    std::optional<ImageLock> lock = ImageLock::Take(toolPath_, ImageLock::Mode::Write);
    return lock && RepairLocked(name, lock->fd()) && Usable(name);
}

bool ImageDrive::rewrite(std::string_view name, const FileChange& change)
{
    if (!IsPlainName(name))
        return RecordFailure(FileStep::ResolvePath, EINVAL);
    std::optional<ImageLock> lock = ImageLock::Take(toolPath_, ImageLock::Mode::Write);
    if (!lock || !RepairLocked(name, lock->fd()))
        return false;
    const int fd = lock->fd();
    const Entry* entry = Usable(name);
    if (!entry)
        return false;
    const std::string target = entry->name;
    const std::optional<std::string> current = ReadContents(target, fd);
    std::string bytes;
    if (!current || !change(*current, bytes))
        return false;
    if (bytes == *current)
        return true;
    if (bytes.size() > MaxFileSize)
        return RecordFailure(FileStep::WriteTemporary, EFBIG);
    const std::string temporary = TemporaryNameFor(name);
    if (Find(temporary))  // a directory: repairing removed any file of that name
        return RecordFailure(FileStep::CreateTemporary, EEXIST);
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
    ToolResult renamed = Mtools("mren", {"-D", "s", "::/" + temporary, "::/" + target}, fd);
    if (!renamed.ok)
        return ToolFailure(FileStep::Rename, renamed);
    if (fdatasync(fd) != 0)
        return RecordFailure(FileStep::FlushTemporary, errno);
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
        RecordFailure(drive.error.step, drive.error.code, drive.error.detail);
    return ImageFile{drive.drive.get(), parsed->name};
}

void CloseImageDrives()
{
    std::lock_guard<std::mutex> hold(openedGuard);
    OpenedImages().clear();
}
