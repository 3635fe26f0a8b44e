#pragma once

#include <string>
#include <utility>
#include <variant>

namespace keysweep {

// Why a key-store operation failed. The detail is a sentence for people, naming the file.
struct Error {
    enum class Code {
        NotAHive, // the file's first line is not the hive header; the file is left alone
        NotAFile, // the path names a FIFO, folder or device rather than a regular file
        Io, // a file or folder could not be read, written, synced or renamed
        HardLinked, // the hive has more than one name, so replacing it would split them
        NotSynced, // the file was replaced, but its folder could not be synced after the rename
    };

    Code code;
    std::string detail;
};

// A value or an Error. No exception leaves the key store for bad input.
template<typename T> class [[nodiscard]] Result {
public:
    Result(T value)
        : m_value(std::move(value))
    { }
    Result(Error error)
        : m_value(std::move(error))
    { }

    bool ok() const { return std::holds_alternative<T>(m_value); }
    explicit operator bool() const { return ok(); }

    T &value() & { return std::get<T>(m_value); }
    T &&value() && { return std::get<T>(std::move(m_value)); }
    const Error &error() const { return std::get<Error>(m_value); }

private:
    std::variant<T, Error> m_value;
};

template<> class [[nodiscard]] Result<void> {
public:
    Result() = default;
    Result(Error error)
        : m_error(std::move(error))
        , m_failed(true)
    { }

    bool ok() const { return !m_failed; }
    explicit operator bool() const { return ok(); }
    const Error &error() const { return m_error; }

private:
    Error m_error { Error::Code::Io, {} };
    bool m_failed = false;
};

} // namespace keysweep
