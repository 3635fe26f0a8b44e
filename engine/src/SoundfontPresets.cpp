#include "SoundfontPresets.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace tunedeck {

namespace {

std::uint32_t le16(const std::uint8_t *p)
{
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8;
}

std::uint32_t le32(const std::uint8_t *p)
{
    return le16(p) | le16(p + 2) << 16;
}

void putLe16(std::uint8_t *p, std::uint32_t value)
{
    p[0] = std::uint8_t(value);
    p[1] = std::uint8_t(value >> 8);
}

void putLe32(std::uint8_t *p, std::uint32_t value)
{
    putLe16(p, value);
    putLe16(p + 2, value >> 16);
}

bool isId(const std::uint8_t *p, const char (&id)[5])
{
    return std::memcmp(p, id, 4) == 0;
}

constexpr char kIds[][5]
    = { "phdr", "pbag", "pmod", "pgen", "inst", "ibag", "imod", "igen", "shdr" };
constexpr std::size_t kRecordSizes[] = { 38, 4, 10, 4, 22, 4, 10, 4, 46 };
constexpr std::size_t kListHeader = 12; // "LIST", its size, "pdta"

} // namespace

std::optional<SoundfontPresets> SoundfontPresets::read(const ReadAt &readAt, std::uint64_t fileSize)
{
    std::uint8_t header[12];
    if (fileSize < sizeof header || !readAt(0, header, sizeof header) || !isId(header, "RIFF")
        || !isId(header + 8, "sfbk") || le32(header + 4) + std::uint64_t(8) != fileSize)
        return std::nullopt;
    SoundfontPresets font;
    std::uint64_t at = sizeof header;
    for (;;) {
        if (at + kListHeader > fileSize || !readAt(at, header, kListHeader))
            return std::nullopt;
        const std::uint64_t end = at + 8 + le32(header + 4);
        if (end > fileSize)
            return std::nullopt;
        if (isId(header, "LIST") && isId(header + 8, "pdta")) {
            // Written back after the bytes before it, so it must end the file.
            if (end != fileSize || end - at > kMaxPdtaBytes)
                return std::nullopt;
            font.m_pdtaOffset = at;
            font.m_pdta.resize(std::size_t(end - at));
            if (!readAt(at, font.m_pdta.data(), font.m_pdta.size()))
                return std::nullopt;
            break;
        }
        at = end;
    }

    const std::uint8_t *const data = font.m_pdta.data();
    std::size_t pos = kListHeader;
    for (int chunk = 0; chunk < ChunkCount; ++chunk) {
        if (font.m_pdta.size() - pos < 8 || !isId(data + pos, kIds[chunk]))
            return std::nullopt;
        const std::size_t size = le32(data + pos + 4);
        if (size > font.m_pdta.size() - pos - 8 || size % kRecordSizes[chunk] != 0)
            return std::nullopt;
        font.m_chunks[chunk] = { pos + 8, size };
        pos += 8 + size;
    }

    // Preset headers: bag indices ascending, the terminal one's bag being the terminal bag.
    const auto count = [&](Chunk chunk) { return font.m_chunks[chunk].size / kRecordSizes[chunk]; };
    const auto record = [&](Chunk chunk, std::size_t index) {
        return data + font.m_chunks[chunk].begin + index * kRecordSizes[chunk];
    };
    // Every record is some preset's: none before the first preset's bag, generator, modulator.
    if (count(Phdr) == 0 || count(Pbag) == 0 || le16(record(Phdr, 0) + 24) != 0
        || le32(record(Pbag, 0)) != 0)
        return std::nullopt;
    std::uint32_t lastBag = 0;
    for (std::size_t i = 0; i < count(Phdr); ++i) {
        const std::uint8_t *preset = record(Phdr, i);
        const std::uint32_t bag = le16(preset + 24);
        if (bag < lastBag)
            return std::nullopt;
        lastBag = bag;
        if (i + 1 < count(Phdr))
            font.m_presets.push_back(
                { int(le16(preset + 22)), int(le16(preset + 20)), std::uint16_t(bag) });
    }
    if (lastBag + std::size_t(1) != count(Pbag))
        return std::nullopt;
    // Bags: generator and modulator indices ascending, the terminal bag's naming each chunk's
    // terminal record (or nothing, in an empty chunk).
    std::uint32_t lastGen = 0;
    std::uint32_t lastMod = 0;
    for (std::size_t i = 0; i < count(Pbag); ++i) {
        const std::uint32_t gen = le16(record(Pbag, i));
        const std::uint32_t mod = le16(record(Pbag, i) + 2);
        if (gen < lastGen || mod < lastMod)
            return std::nullopt;
        lastGen = gen;
        lastMod = mod;
    }
    const auto terminalFits = [](std::size_t records, std::uint32_t terminal) {
        return records == terminal + std::size_t(1) || (records == 0 && terminal == 0);
    };
    if (!terminalFits(count(Pgen), lastGen) || !terminalFits(count(Pmod), lastMod))
        return std::nullopt;
    return font;
}

std::optional<SoundfontPresets> SoundfontPresets::read(std::span<const std::uint8_t> file)
{
    return read(
        [file](std::uint64_t offset, std::uint8_t *out, std::size_t count) {
            if (offset > file.size() || count > file.size() - offset)
                return false;
            std::memcpy(out, file.data() + offset, count);
            return true;
        },
        file.size());
}

std::optional<SoundfontPresets> SoundfontPresets::read(const std::filesystem::path &file)
{
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    struct stat status { };
    std::optional<SoundfontPresets> font;
    if (::fstat(fd, &status) == 0 && S_ISREG(status.st_mode)) {
        font = read(
            [fd](std::uint64_t offset, std::uint8_t *out, std::size_t count) {
                while (count > 0) {
                    const ssize_t got = ::pread(fd, out, count, off_t(offset));
                    if (got < 0 && errno == EINTR)
                        continue;
                    if (got <= 0)
                        return false;
                    out += got;
                    count -= std::size_t(got);
                    offset += std::uint64_t(got);
                }
                return true;
            },
            std::uint64_t(status.st_size));
    }
    ::close(fd);
    return font;
}

std::vector<std::uint8_t> SoundfontPresets::pdta(const std::function<bool(std::size_t)> &keep) const
{
    const std::uint8_t *const data = m_pdta.data();
    const auto at = [&](Chunk chunk, std::size_t index) {
        return data + m_chunks[chunk].begin + index * kRecordSizes[chunk];
    };
    const std::size_t terminalBag = m_chunks[Pbag].size / 4 - 1;
    const auto bagStart = [&](std::size_t preset) {
        return preset + 1 < m_presets.size() ? m_presets[preset + 1].firstBag : terminalBag;
    };

    std::vector<std::uint8_t> phdr(
        data + m_chunks[Phdr].begin, data + m_chunks[Phdr].begin + m_chunks[Phdr].size);
    std::vector<std::uint8_t> pbag, pmod, pgen;
    for (std::size_t i = 0; i < m_presets.size(); ++i) {
        putLe16(phdr.data() + i * 38 + 24, std::uint32_t(pbag.size() / 4));
        if (!keep(i))
            continue;
        const std::size_t first = m_presets[i].firstBag;
        const std::size_t last = bagStart(i);
        const std::uint32_t gens[] = { le16(at(Pbag, first)), le16(at(Pbag, last)) };
        const std::uint32_t mods[] = { le16(at(Pbag, first) + 2), le16(at(Pbag, last) + 2) };
        for (std::size_t bag = first; bag < last; ++bag) {
            std::uint8_t renumbered[4];
            putLe16(renumbered, le16(at(Pbag, bag)) - gens[0] + std::uint32_t(pgen.size() / 4));
            putLe16(renumbered + 2,
                le16(at(Pbag, bag) + 2) - mods[0] + std::uint32_t(pmod.size() / 10));
            pbag.insert(pbag.end(), renumbered, renumbered + 4);
        }
        pgen.insert(pgen.end(), at(Pgen, gens[0]), at(Pgen, gens[1]));
        pmod.insert(pmod.end(), at(Pmod, mods[0]), at(Pmod, mods[1]));
    }
    putLe16(phdr.data() + m_presets.size() * 38 + 24, std::uint32_t(pbag.size() / 4));
    std::uint8_t terminal[4];
    putLe16(terminal, std::uint32_t(pgen.size() / 4));
    putLe16(terminal + 2, std::uint32_t(pmod.size() / 10));
    pbag.insert(pbag.end(), terminal, terminal + 4);
    // The terminal generator and modulator records, when the chunks have them.
    if (m_chunks[Pgen].size > 0)
        pgen.insert(
            pgen.end(), at(Pgen, m_chunks[Pgen].size / 4 - 1), at(Pgen, 0) + m_chunks[Pgen].size);
    if (m_chunks[Pmod].size > 0)
        pmod.insert(
            pmod.end(), at(Pmod, m_chunks[Pmod].size / 10 - 1), at(Pmod, 0) + m_chunks[Pmod].size);

    std::vector<std::uint8_t> out(data, data + kListHeader);
    const auto append = [&out](Chunk chunk, const std::vector<std::uint8_t> &body) {
        std::uint8_t header[8];
        std::memcpy(header, kIds[chunk], 4);
        putLe32(header + 4, std::uint32_t(body.size()));
        out.insert(out.end(), header, header + 8);
        out.insert(out.end(), body.begin(), body.end());
    };
    append(Phdr, phdr);
    append(Pbag, pbag);
    append(Pmod, pmod);
    append(Pgen, pgen);
    // Instruments, their zones and the sample headers (and anything after them) as they are.
    out.insert(out.end(), data + m_chunks[Inst].begin - 8, data + m_pdta.size());
    putLe32(out.data() + 4, std::uint32_t(out.size() - 8));
    return out;
}

} // namespace tunedeck
