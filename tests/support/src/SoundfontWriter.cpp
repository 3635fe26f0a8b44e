#include "testsupport/SoundfontWriter.h"

#include <string_view>

namespace testsupport {

namespace {

using Bytes = std::vector<std::uint8_t>;
using Chunks = std::vector<std::pair<std::string, Bytes>>;

// Appends `value` in `size` little-endian bytes, or `name` padded with zeros to `size` bytes.
void put(Bytes &out, std::uint32_t value, int size, std::string_view name = {})
{
    for (int i = 0; i < size; ++i)
        out.push_back(name.empty()             ? std::uint8_t(i < 4 ? value >> (8 * i) : 0)
                : std::size_t(i) < name.size() ? std::uint8_t(name[std::size_t(i)])
                                               : 0);
}

void putChunks(Bytes &out, const Chunks &chunks)
{
    for (const auto &[id, body] : chunks) {
        put(out, 0, 4, id);
        put(out, std::uint32_t(body.size()), 4);
        out.insert(out.end(), body.begin(), body.end());
    }
}

Bytes list(std::string_view type, const Chunks &chunks)
{
    Bytes body;
    put(body, 0, 4, type);
    putChunks(body, chunks);
    return body;
}

} // namespace

SoundfontWriter::SoundfontWriter(const std::vector<std::pair<int, int>> &presets)
{
    Bytes phdr, pbag, pgen, inst, ibag, igen, shdr;
    for (std::size_t i = 0; i <= presets.size(); ++i) {
        const bool last = i == presets.size();
        put(phdr, 0, 20, last ? "EOP" : "preset");
        put(phdr, last ? 0 : std::uint32_t(presets[i].second), 2);
        put(phdr, last ? 0 : std::uint32_t(presets[i].first), 2);
        put(phdr, std::uint32_t(i), 2); // one bag each ...
        put(phdr, 0, 12);
        put(pbag, std::uint32_t(i), 4); // ... with one generator: the instrument
        put(pgen, last ? 0 : 41, 4);
    }
    for (std::uint32_t i = 0; i <= 1; ++i) { // one instrument and one sample, each then the end
        put(inst, 0, 20, i ? "EOI" : "tone");
        put(inst, i, 2);
        put(ibag, i, 4);
        put(igen, i ? 0 : 53, 4); // sampleID
        put(shdr, 0, 20, i ? "EOS" : "tone");
        for (std::uint32_t value : { 0u, 1000u, 100u, 900u, 44'100u, 60u, 1u })
            put(shdr, i ? 0 : value, 4); // start, end, loop, rate, key and mono
        shdr.resize(shdr.size() - 2);
    }
    const Bytes mod(10, 0);
    pdta = { { "phdr", phdr }, { "pbag", pbag }, { "pmod", mod }, { "pgen", pgen },
        { "inst", inst }, { "ibag", ibag }, { "imod", mod }, { "igen", igen }, { "shdr", shdr } };
}

std::vector<std::uint8_t> SoundfontWriter::bytes() const
{
    Bytes body;
    put(body, 0, 4, "sfbk");
    putChunks(body,
        { { "LIST", list("INFO", { { "ifil", { 2, 0, 1, 0 } } }) },
            { "LIST", list("sdta", { { "smpl", smpl } }) }, { "LIST", list("pdta", pdta) } });
    Bytes out;
    putChunks(out, { { "RIFF", body } });
    return out;
}

} // namespace testsupport
