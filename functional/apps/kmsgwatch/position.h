// Where the watch of the record device got to, kept across restarts of the
// watcher within one boot. The watcher reads the device from its oldest
// record at every start; a restarted watcher (after a crash, a kill or a
// stop) passes over the records it has already acted on instead of reporting
// them again.
#pragma once

namespace kmsgwatch {

// The folder comes from tmpfiles.d on the device; without it nothing is kept.
inline constexpr char PositionFile[] = "/run/kmsgwatch/position";
inline constexpr char BootIdFile[] = "/proc/sys/kernel/random/boot_id";

class Position {
public:
    // The position kept in `path` ("<boot id> <sequence number>"), or none
    // when the file is absent, damaged or from another boot (sequence numbers
    // start again at each boot), or the boot id cannot be read. A null path
    // keeps nothing.
    explicit Position(const char *path, const char *bootIdPath = BootIdFile);

    // True when the record with this sequence number was acted on already.
    bool seen(unsigned long long sequence) const;

    // Keeps the sequence number of a record about to be acted on. Kept before
    // the action, so that a watcher ended during a report or a restart pause
    // does not act on the record once more. Failures are silent: the watch
    // goes on without a kept position.
    void keep(unsigned long long sequence);

private:
    const char *path_;
    char boot_[64] = {};
    bool known_ = false;
    unsigned long long last_ = 0;
};

} // namespace kmsgwatch
