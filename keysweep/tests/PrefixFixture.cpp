#include "PrefixFixture.h"

#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace keysweep::test {

TempPrefix::TempPrefix()
{
    std::string pattern
        = (std::filesystem::temp_directory_path() / "keysweep-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr)
        throw std::runtime_error("mkdtemp failed");
    m_root = pattern;
    m_path = m_root / "prefix";
    std::filesystem::create_directory(m_path);
    std::filesystem::create_directory(tmp());
}

TempPrefix::~TempPrefix()
{
    std::error_code error;
    // A test may leave a read-only file or folder behind; make it removable first.
    for (const auto &entry : std::filesystem::recursive_directory_iterator(m_root, error))
        std::filesystem::permissions(entry.path(), std::filesystem::perms::owner_all,
            std::filesystem::perm_options::add | std::filesystem::perm_options::nofollow, error);
    std::filesystem::remove_all(m_root, error);
}

void writeFile(const std::filesystem::path &path, std::string_view bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), std::streamsize(bytes.size()));
    if (!out)
        throw std::runtime_error("cannot write " + path.string());
}

std::string readFile(const std::filesystem::path &path)
{
    std::ifstream in(path, std::ios::binary);
    return { std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>() };
}

ino_t inodeOf(const std::filesystem::path &path)
{
    struct stat info { };
    return ::stat(path.c_str(), &info) == 0 ? info.st_ino : 0;
}

std::string withoutSection(std::string_view hive, std::string_view header)
{
    std::string text(hive);
    const std::size_t start = text.find(std::string("\n") + std::string(header) + " ");
    if (start == std::string::npos)
        throw std::runtime_error("no section " + std::string(header));
    std::size_t end = text.find("\n\n", start + 1);
    end = end == std::string::npos ? text.size() : end + 1; // through the line end of its last line
    text.erase(start, end - start);
    return text;
}

ChildHolding::ChildHolding(What what, const std::filesystem::path &path, const char *name)
{
    int ready[2];
    int release[2];
    if (::pipe(ready) != 0 || ::pipe(release) != 0)
        throw std::runtime_error("pipe failed");
    m_pid = ::fork();
    if (m_pid < 0)
        throw std::runtime_error("fork failed");
    if (m_pid == 0) {
        ::close(ready[0]);
        ::close(release[1]);
        if (name != nullptr)
            ::prctl(PR_SET_NAME, name);
        bool holding = false;
        if (what == What::LockOf) {
            const int fd = ::open(path.c_str(), O_RDWR | O_CREAT, 0600);
            struct flock range { };
            range.l_type = F_WRLCK;
            range.l_whence = SEEK_SET;
            range.l_len = 1;
            holding = fd >= 0 && ::fcntl(fd, F_SETLK, &range) == 0;
        } else {
            holding = ::chdir(path.c_str()) == 0;
        }
        const char status = holding ? 'y' : 'n';
        if (::write(ready[1], &status, 1) != 1)
            ::_exit(1);
        char ignored;
        while (::read(release[0], &ignored, 1) > 0) { }
        ::_exit(0);
    }
    ::close(ready[1]);
    ::close(release[0]);
    m_release = release[1];
    char status = 'n';
    const bool told = ::read(ready[0], &status, 1) == 1;
    ::close(ready[0]);
    if (!told || status != 'y')
        throw std::runtime_error("the child could not hold " + path.string());
}

ChildHolding::~ChildHolding()
{
    ::close(m_release);
    int status = 0;
    ::waitpid(m_pid, &status, 0);
}

bool anotherProcessCanLock(const std::filesystem::path &lockFile)
{
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int fd = ::open(lockFile.c_str(), O_RDWR);
        struct flock range { };
        range.l_type = F_WRLCK;
        range.l_whence = SEEK_SET;
        range.l_len = 1;
        ::_exit(fd >= 0 && ::fcntl(fd, F_SETLK, &range) == 0 ? 0 : 1);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

} // namespace keysweep::test
