#include "testsupport/SoundfontWriter.h"

#include <cmath>
#include <string_view>

namespace testsupport {

namespace {

using Bytes = std::vector<std::uint8_t>;

void put(Bytes &out, std::uint32_t value, int size)
{
    for (int i = 0; i < size; ++i)
        out.push_back(std::uint8_t(value >> (8 * i)));
}

void putName(Bytes &out, std::string_view name, std::size_t size)
{
    for (std::size_t i = 0; i < size; ++i)
        out.push_back(i < name.size() ? std::uint8_t(name[i]) : 0);
}

void chunk(Bytes &out, std::string_view id, const Bytes &body)
{
    putName(out, id, 4);
    put(out, std::uint32_t(body.size()), 4);
    out.insert(out.end(), body.begin(), body.end());
}

Bytes list(std::string_view type, const std::vector<std::pair<std::string, Bytes>> &chunks)
{
    Bytes body;
    putName(body, type, 4);
    for (const auto &[id, data] : chunks)
        chunk(body, id, data);
    return body;
}

constexpr std::uint32_t kTone = 1000; // sample points, then the 46 of silence a sample needs

} // namespace

SoundfontWriter::SoundfontWriter(const std::vector<Preset> &presets)
{
    Bytes phdr, pbag, pgen, inst, ibag, igen, shdr;
    for (std::size_t i = 0; i <= presets.size(); ++i) {
        const bool last = i == presets.size();
        putName(phdr, last ? "EOP" : "preset", 20);
        put(phdr, last ? 0 : std::uint32_t(presets[i].program), 2);
        put(phdr, last ? 0 : std::uint32_t(presets[i].bank), 2);
        put(phdr, std::uint32_t(i), 2); // one bag each
        put(phdr, 0, 12);
        put(pbag, std::uint32_t(i), 2); // one generator each: the instrument
        put(pbag, 0, 2);
        put(pgen, last ? 0 : 41, 2);
        put(pgen, 0, 2);
    }
    for (int i = 0; i <= 1; ++i) {
        putName(inst, i ? "EOI" : "tone", 20);
        put(inst, std::uint32_t(i), 2);
        put(ibag, std::uint32_t(i), 2);
        put(ibag, 0, 2);
        put(igen, i ? 0 : 53, 2); // sampleID
        put(igen, 0, 2);
        putName(shdr, i ? "EOS" : "tone", 20);
        for (std::uint32_t value : { 0u, kTone, 100u, kTone - 100, 44'100u })
            put(shdr, i ? 0 : value, 4);
        put(shdr, i ? 0 : 60, 1); // original key
        put(shdr, 0, 1);
        put(shdr, 0, 2);
        put(shdr, i ? 0 : 1, 2); // mono
    }
    const Bytes mod(10, 0);
    pdta = { { "phdr", phdr }, { "pbag", pbag }, { "pmod", mod }, { "pgen", pgen },
        { "inst", inst }, { "ibag", ibag }, { "imod", mod }, { "igen", igen }, { "shdr", shdr } };
}

std::vector<std::uint8_t> SoundfontWriter::bytes() const
{
    Bytes version;
    put(version, 2, 2);
    put(version, 1, 2);
    Bytes samples;
    for (std::uint32_t i = 0; i < kTone + 46; ++i)
        put(samples, std::uint16_t(i < kTone ? std::lround(8000 * std::sin(i * 0.0627)) : 0), 2);
    Bytes body;
    putName(body, "sfbk", 4);
    chunk(body, "LIST", list("INFO", { { "ifil", version }, { "isng", Bytes(8, 0) } }));
    chunk(body, "LIST", list("sdta", { { "smpl", samples } }));
    chunk(body, "LIST", list("pdta", pdta));
    for (const auto &[id, data] : after)
        chunk(body, id, data);
    Bytes out;
    chunk(out, "RIFF", body);
    return out;
}

} // namespace testsupport
