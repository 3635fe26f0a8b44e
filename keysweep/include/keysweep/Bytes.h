#pragma once

#include <cstddef>
#include <cstring>
#include <memory>
#include <string_view>

namespace keysweep {

// An owned block of bytes that is not zero-filled when made: a hive of tens of megabytes is
// read straight into it, so it is touched once. Move-only; any thread may read a const one.
class Bytes {
public:
    Bytes() = default;
    // Room for `size` bytes with unspecified contents.
    explicit Bytes(std::size_t size)
        : m_data(std::make_unique_for_overwrite<char[]>(size))
        , m_size(size)
    { }
    // A copy of `text`.
    static Bytes copyOf(std::string_view text)
    {
        Bytes bytes(text.size());
        if (!text.empty())
            std::memcpy(bytes.data(), text.data(), text.size());
        return bytes;
    }

    char *data() { return m_data.get(); }
    std::size_t size() const { return m_size; }
    std::string_view view() const { return { m_data.get(), m_size }; }
    // Keeps the first `size` bytes; never grows.
    void truncate(std::size_t size) { m_size = size < m_size ? size : m_size; }

private:
    std::unique_ptr<char[]> m_data;
    std::size_t m_size = 0;
};

} // namespace keysweep
