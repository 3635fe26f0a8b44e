#pragma once

// Fixture prefixes for the keysweep tests: a temporary folder with hive files the test writes,
// and the sample hive the tests share (the layout Wine 8 writes).

#include <filesystem>
#include <string>
#include <string_view>
#include <sys/types.h>

namespace keysweep::test {

// A user.reg as Wine writes it: explicit and implicit keys, escaped and non-ASCII names,
// siblings that share a prefix with Alpha, a continued hex value and a value that looks like a
// section header.
inline constexpr std::string_view kUserHive = R"hive(WINE REGISTRY Version 2
;; All keys relative to REGISTRY\\User\\S-1-5-21-0-0-0-1000

#arch=win64

[Software\\The toolTest\\Alpha] 1796688663
#time=1dd86a89d154be4
@="default"
"big"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,15,16,\
  17,18,19,1a
"dw"=dword:0000002a
"n=ame \"q\""="v"
"nl"="line1\n[Fake\\Key]\ttab"

[Software\\The toolTest\\Alpha\\Beta 1\\Gamma Two] 1796688663
#time=1dd86a89d153474

[Software\\The toolTest\\Alpha\\Name\[br\]acket] 1796687337
#time=1dd86a58631b99c
"k"="v"

[Software\\The toolTest\\Alpha\\\xdcn\x00efc\x00f6d\xe9 \x41a\x43b\x44e\x447 \x5b50\x952e] 1796687336
#time=1dd86a586269e5e
"\x43a\x43b\x44e\x447"="\x437\x43d\x430\x447\x435\x43d\x438\x435"

[Software\\The toolTest\\Alpha Sibling] 1796687336
#time=1dd86a586269e5e
"s"="1"

[Software\\The toolTest\\AlphaBeta] 1796687336
#time=1dd86a586269e5e
"s"="2"

[Software\\The toolTest\\Zeta\\Deep\\L1\\L2] 1796687336
#time=1dd86a586269e5e
"leaf"=""
)hive";

// A system.reg with the same Alpha tree, so a test can tell which root was used.
inline constexpr std::string_view kMachineHive = R"hive(WINE REGISTRY Version 2
;; All keys relative to REGISTRY\\Machine

#arch=win64

[Software\\The toolTest\\Alpha] 1796688663
#time=1dd86a89d154be4
"m"="machine"

[Software\\The toolTest\\Alpha\\Beta 1] 1796688663
#time=1dd86a89d153474

[Software\\The toolTest\\Other] 1796688663
#time=1dd86a89d153474
)hive";

// A temporary prefix folder, removed with everything in it when the fixture ends.
class TempPrefix {
public:
    TempPrefix();
    ~TempPrefix();
    TempPrefix(const TempPrefix &) = delete;
    TempPrefix &operator=(const TempPrefix &) = delete;

    const std::filesystem::path &path() const { return m_path; }
    std::filesystem::path user() const { return m_path / "user.reg"; }
    std::filesystem::path machine() const { return m_path / "system.reg"; }
    // The folder the server places point at instead of /tmp, inside the fixture.
    std::filesystem::path tmp() const { return m_path / "tmp"; }

private:
    std::filesystem::path m_root; // holds the prefix and its tmp; removed at the end
    std::filesystem::path m_path;
};

void writeFile(const std::filesystem::path &path, std::string_view bytes);
std::string readFile(const std::filesystem::path &path);
ino_t inodeOf(const std::filesystem::path &path);

// `hive` without the section whose header line is `header` (and its blank line before).
std::string withoutSection(std::string_view hive, std::string_view header);

// A process that holds a file's server lock (byte 0, as a wineserver does) or sits in a folder,
// until the object is destroyed. Construction returns once the child holds it.
class ChildHolding {
public:
    enum class What { LockOf, WorkingFolder };
    // `name`, when given, is the child's process name (as /proc/<pid>/comm shows it).
    ChildHolding(What what, const std::filesystem::path &path, const char *name = nullptr);
    ~ChildHolding();
    ChildHolding(const ChildHolding &) = delete;
    ChildHolding &operator=(const ChildHolding &) = delete;

    pid_t pid() const { return m_pid; }

private:
    pid_t m_pid = -1;
    int m_release = -1; // closing it lets the child end
};

// Whether another process could take the server lock of `lockFile` right now.
bool anotherProcessCanLock(const std::filesystem::path &lockFile);

} // namespace keysweep::test
