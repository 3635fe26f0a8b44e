#include "SoundfontPresets.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
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
constexpr std::uint32_t kInstrumentGenerator = 41; // a preset zone's instrument, by index
constexpr std::uint32_t kKeyRangeGenerator = 43;
constexpr std::uint32_t kVelRangeGenerator = 44;
constexpr std::uint32_t kSampleGenerator = 53; // an instrument zone's sample, by index

} // namespace

std::optional<SoundfontPresets> SoundfontPresets::read(const ReadAt &readAt, std::uint64_t fileSize)
{
    std::uint8_t header[12];
    if (fileSize < sizeof header || !readAt(0, header, sizeof header) || !isId(header, "RIFF")
        || !isId(header + 8, "sfbk") || le32(header + 4) + std::uint64_t(8) != fileSize)
        return std::nullopt;
    SoundfontPresets font;
    std::uint64_t at = sizeof header;
    // A soundfont is three lists (its text, its samples, its presets): anything else is not
    // walked through, however many empty chunks a file of zeros would make of it.
    for (int lists = 0;; ++lists) {
        if (lists == 3 || at + kListHeader > fileSize || !readAt(at, header, kListHeader)
            || !isId(header, "LIST"))
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

    // The instruments can be cut to those some presets play when they hold to the same rules.
    const auto consistent = [&] {
        if (count(Inst) < 2 || count(Ibag) == 0 || le16(record(Inst, 0) + 20) != 0
            || le32(record(Ibag, 0)) != 0)
            return false;
        std::uint32_t bag = 0;
        for (std::size_t i = 0; i < count(Inst); ++i) {
            if (le16(record(Inst, i) + 20) < bag)
                return false;
            bag = le16(record(Inst, i) + 20);
        }
        if (bag + std::size_t(1) != count(Ibag))
            return false;
        std::uint32_t gen = 0;
        std::uint32_t mod = 0;
        for (std::size_t i = 0; i < count(Ibag); ++i) {
            if (le16(record(Ibag, i)) < gen || le16(record(Ibag, i) + 2) < mod)
                return false;
            gen = le16(record(Ibag, i));
            mod = le16(record(Ibag, i) + 2);
        }
        return terminalFits(count(Igen), gen) && terminalFits(count(Imod), mod);
    };
    if (consistent()) {
        for (std::size_t i = 0; i + 1 < count(Inst); ++i)
            font.m_instrumentBags.push_back(std::uint16_t(le16(record(Inst, i) + 20)));
    }
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

SoundfontPresets::Zone SoundfontPresets::zone(Chunk bag, std::size_t index) const
{
    const auto at = [this](Chunk chunk, std::size_t i) {
        return m_pdta.data() + m_chunks[chunk].begin + i * kRecordSizes[chunk];
    };
    const auto gen = Chunk(bag + 2);
    const std::uint32_t plays = bag == Pbag ? kInstrumentGenerator : kSampleGenerator;
    // As the synthesiser reads a zone: a key range counts only as the first generator, a velocity
    // range only before any other but a key range, and nothing after what the zone plays.
    Zone zone;
    int level = 0;
    for (std::uint32_t i = le16(at(bag, index)); i < le16(at(bag, index + 1)); ++i) {
        const std::uint8_t *record = at(gen, i);
        const std::uint32_t op = le16(record);
        if (op == kKeyRangeGenerator && level == 0) {
            zone.box.keyLo = record[2];
            zone.box.keyHi = record[3];
            level = 1;
        } else if (op == kVelRangeGenerator && level <= 1) {
            zone.box.velLo = record[2];
            zone.box.velHi = record[3];
            level = 2;
        } else if (op == plays) {
            zone.plays = le16(record + 2);
            break;
        } else {
            level = 2;
        }
    }
    return zone;
}

std::vector<std::uint8_t> SoundfontPresets::pdta(
    const std::function<bool(std::size_t)> &keep, const Reaches &reaches) const
{
    const std::uint8_t *const data = m_pdta.data();
    const auto at = [&](Chunk chunk, std::size_t index) {
        return data + m_chunks[chunk].begin + index * kRecordSizes[chunk];
    };
    // Zones (bags) with their generators and modulators, of presets or of instruments.
    struct Zones {
        std::vector<std::uint8_t> bags, mods, gens;
    };
    // Copies the bags [first, last) of `bag` (Pbag or Ibag, its modulators and generators the
    // chunks after it) with theirs, numbered on from what `to` holds.
    const auto copyZones = [&](Chunk bag, std::size_t first, std::size_t last, Zones &to) {
        const auto mod = Chunk(bag + 1);
        const auto gen = Chunk(bag + 2);
        const std::uint32_t gens[] = { le16(at(bag, first)), le16(at(bag, last)) };
        const std::uint32_t mods[] = { le16(at(bag, first) + 2), le16(at(bag, last) + 2) };
        for (std::size_t i = first; i < last; ++i) {
            std::uint8_t renumbered[4];
            putLe16(renumbered, le16(at(bag, i)) - gens[0] + std::uint32_t(to.gens.size() / 4));
            putLe16(renumbered + 2,
                le16(at(bag, i) + 2) - mods[0] + std::uint32_t(to.mods.size() / 10));
            to.bags.insert(to.bags.end(), renumbered, renumbered + 4);
        }
        to.gens.insert(to.gens.end(), at(gen, gens[0]), at(gen, gens[1]));
        to.mods.insert(to.mods.end(), at(mod, mods[0]), at(mod, mods[1]));
    };
    // The terminal bag, and the terminal generator and modulator records when the chunks have
    // them.
    const auto endZones = [&](Chunk bag, Zones &to) {
        const auto mod = Chunk(bag + 1);
        const auto gen = Chunk(bag + 2);
        std::uint8_t terminal[4];
        putLe16(terminal, std::uint32_t(to.gens.size() / 4));
        putLe16(terminal + 2, std::uint32_t(to.mods.size() / 10));
        to.bags.insert(to.bags.end(), terminal, terminal + 4);
        if (m_chunks[gen].size > 0)
            to.gens.insert(to.gens.end(), at(gen, m_chunks[gen].size / 4 - 1),
                at(gen, 0) + m_chunks[gen].size);
        if (m_chunks[mod].size > 0)
            to.mods.insert(to.mods.end(), at(mod, m_chunks[mod].size / 10 - 1),
                at(mod, 0) + m_chunks[mod].size);
    };
    std::vector<std::uint8_t> out(data, data + kListHeader);
    const auto append = [&out](Chunk chunk, const std::vector<std::uint8_t> &body) {
        std::uint8_t header[8];
        std::memcpy(header, kIds[chunk], 4);
        putLe32(header + 4, std::uint32_t(body.size()));
        out.insert(out.end(), header, header + 8);
        out.insert(out.end(), body.begin(), body.end());
    };

    const std::size_t terminalBag = m_chunks[Pbag].size / 4 - 1;
    std::vector<std::uint8_t> phdr(
        data + m_chunks[Phdr].begin, data + m_chunks[Phdr].begin + m_chunks[Phdr].size);
    Zones presets;
    // The kept zones that play an instrument, with the notes that reach them.
    struct Played {
        std::size_t preset;
        NoteBox box;
        std::uint32_t instrument;
    };
    std::vector<Played> playing;
    for (std::size_t i = 0; i < m_presets.size(); ++i) {
        putLe16(phdr.data() + i * 38 + 24, std::uint32_t(presets.bags.size() / 4));
        if (!keep(i))
            continue;
        const std::size_t last = i + 1 < m_presets.size() ? m_presets[i + 1].firstBag : terminalBag;
        for (std::size_t bag = m_presets[i].firstBag; bag < last; ++bag) {
            const Zone zone = this->zone(Pbag, bag);
            // A zone playing nothing counts (as the global one) only first; the synthesiser drops
            // it anywhere else, and a zone left out before it must not make it first.
            if (zone.plays ? reaches && !reaches(i, zone.box) : bag != m_presets[i].firstBag)
                continue;
            copyZones(Pbag, bag, bag + 1, presets);
            if (zone.plays)
                playing.push_back({ i, zone.box, *zone.plays });
        }
    }
    putLe16(phdr.data() + m_presets.size() * 38 + 24, std::uint32_t(presets.bags.size() / 4));

    // The instruments the kept zones play, in their order, numbered anew (unless a zone names
    // one that is not there: the synthesiser judges that).
    auto &pgen = presets.gens;
    bool cut = !m_instrumentBags.empty();
    std::vector<bool> played(m_instrumentBags.size());
    for (std::size_t i = 0; cut && i < pgen.size(); i += 4) {
        if (le16(pgen.data() + i) != kInstrumentGenerator)
            continue;
        const std::uint32_t instrument = le16(pgen.data() + i + 2);
        cut = instrument < played.size();
        if (cut)
            played[instrument] = true;
    }
    std::vector<std::uint32_t> number(played.size());
    for (std::uint32_t i = 0, next = 0; i < played.size(); ++i)
        number[i] = played[i] ? next++ : 0;
    for (std::size_t i = 0; cut && i < pgen.size(); i += 4) {
        if (le16(pgen.data() + i) == kInstrumentGenerator)
            putLe16(pgen.data() + i + 2, number[le16(pgen.data() + i + 2)]);
    }
    endZones(Pbag, presets);
    append(Phdr, phdr);
    append(Pbag, presets.bags);
    append(Pmod, presets.mods);
    append(Pgen, presets.gens);
    if (!cut) {
        // Instruments, their zones and the sample headers (and anything after them) as they are.
        out.insert(out.end(), data + m_chunks[Inst].begin - 8, data + m_pdta.size());
        putLe32(out.data() + 4, std::uint32_t(out.size() - 8));
        return out;
    }

    const std::size_t terminalInstBag = m_chunks[Ibag].size / 4 - 1;
    std::vector<std::uint8_t> inst;
    Zones instruments;
    for (std::size_t i = 0; i <= m_instrumentBags.size(); ++i) {
        if (i < m_instrumentBags.size() && !played[i])
            continue;
        inst.insert(inst.end(), at(Inst, i), at(Inst, i) + 22); // the terminal one last
        putLe16(inst.data() + inst.size() - 2, std::uint32_t(instruments.bags.size() / 4));
        const std::size_t last
            = i + 1 < m_instrumentBags.size() ? m_instrumentBags[i + 1] : terminalInstBag;
        for (std::size_t bag = i < m_instrumentBags.size() ? m_instrumentBags[i] : last; bag < last;
             ++bag) {
            // A zone playing a sample stays when a note reaching a kept zone that plays this
            // instrument falls in its range too.
            const Zone zone = this->zone(Ibag, bag);
            const auto reached = [&](const Played &by) {
                const NoteBox both { std::max(by.box.keyLo, zone.box.keyLo),
                    std::min(by.box.keyHi, zone.box.keyHi), std::max(by.box.velLo, zone.box.velLo),
                    std::min(by.box.velHi, zone.box.velHi) };
                return by.instrument == i && reaches(by.preset, both);
            };
            if (zone.plays ? reaches && std::none_of(playing.begin(), playing.end(), reached)
                           : bag != m_instrumentBags[i])
                continue;
            copyZones(Ibag, bag, bag + 1, instruments);
        }
    }
    endZones(Ibag, instruments);
    append(Inst, inst);
    append(Ibag, instruments.bags);
    append(Imod, instruments.mods);
    append(Igen, instruments.gens);
    // The sample headers (and anything after them) as they are.
    out.insert(out.end(), data + m_chunks[Shdr].begin - 8, data + m_pdta.size());
    putLe32(out.data() + 4, std::uint32_t(out.size() - 8));
    return out;
}

} // namespace tunedeck
