#pragma once

#include <cstddef>
#include <cstring>
#include <memory>
#include <string_view>
#include <utility>

namespace keysweep {

// An owned block of bytes: either memory that is not zero-filled when made (a file is read
// straight into it, so it is touched once) or a read-only mapping of a file, which a hive of
// tens of megabytes is read through without copying it at all. Move-only; any thread may read a
// const one.
class Bytes {
public:
    Bytes() = default;
    // Room for `size` bytes with unspecified contents.
    explicit Bytes(std::size_t size)
        : m_data(std::make_unique_for_overwrite<char[]>(size))
        , m_view(m_data.get())
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
    // The first `size` bytes of the open file `fd`, mapped read-only; an empty Bytes when the
    // system will not map it. The file must not shrink while the mapping lives.
    static Bytes mapFile(int fd, std::size_t size);

    Bytes(Bytes &&other) noexcept { swap(other); }
    Bytes &operator=(Bytes &&other) noexcept
    {
        Bytes(std::move(other)).swap(*this);
        return *this;
    }
    ~Bytes();

    bool isMapped() const { return m_mapped; }
    // Writable room; only for bytes that are not mapped.
    char *data() { return m_data.get(); }
    std::size_t size() const { return m_size; }
    std::string_view view() const { return { m_view, m_size }; }
    // Keeps the first `size` bytes; never grows.
    void truncate(std::size_t size) { m_size = size < m_size ? size : m_size; }

private:
    void swap(Bytes &other) noexcept
    {
        std::swap(m_data, other.m_data);
        std::swap(m_view, other.m_view);
        std::swap(m_size, other.m_size);
        std::swap(m_mapLength, other.m_mapLength);
        std::swap(m_mapped, other.m_mapped);
    }

    std::unique_ptr<char[]> m_data; // null when mapped
    const char *m_view = nullptr;
    std::size_t m_size = 0;
    std::size_t m_mapLength = 0;
    bool m_mapped = false;
};

} // namespace keysweep
