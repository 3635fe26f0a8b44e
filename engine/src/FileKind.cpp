#include "tunedeck/FileKind.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <string>
#include <string_view>
#include <system_error>

namespace tunedeck {

std::string lowerExtension(const std::filesystem::path &path)
{
    std::string extension = path.extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(),
        [](unsigned char c) { return char(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c); });
    return extension;
}

std::optional<Container> containerOfHead(std::span<const std::uint8_t> head)
{
    const std::string_view bytes(reinterpret_cast<const char *>(head.data()), head.size());
    if (bytes.starts_with("MThd"))
        return Container::Midi;
    if (bytes.size() < 12)
        return std::nullopt;
    const std::string_view form = bytes.substr(8, 4);
    if (form == "RMID" && bytes.starts_with("RIFF"))
        return Container::Midi;
    if (form == "WAVE"
        && (bytes.starts_with("RIFF") || bytes.starts_with("RIFX") || bytes.starts_with("RF64")))
        return Container::Wave;
    return std::nullopt;
}

Result<Sniffed> sniff(const std::filesystem::path &path)
{
    std::error_code error;
    const auto status = std::filesystem::status(path, error);
    if (status.type() == std::filesystem::file_type::not_found)
        return Error { Error::Code::FileNotFound, path.string(), 0 };
    if (error || status.type() != std::filesystem::file_type::regular)
        return Error { Error::Code::Io, path.string() + " is not a readable file", 0 };
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return Error { Error::Code::Io, path.string() + " cannot be opened", 0 };
    std::array<char, 12> head {};
    in.read(head.data(), head.size());
    const auto got = static_cast<std::size_t>(in.gcount());
    const std::string_view bytes(head.data(), got);
    Sniffed sniffed;
    const std::uintmax_t size = std::filesystem::file_size(path, error);
    sniffed.size = error ? 0 : size;
    std::memcpy(sniffed.head.data(), head.data(), got);
    sniffed.headBytes = got;
    const auto is = [&sniffed](Container container) {
        sniffed.container = container;
        return sniffed;
    };

    if (const auto container = containerOfHead(sniffed.headSpan()))
        return is(*container);

    const std::string extension = lowerExtension(path);
    if (extension == ".mid" || extension == ".midi" || extension == ".rmi" || extension == ".kar")
        return is(Container::Midi);
    if (extension == ".wav" || extension == ".wave") {
        if (got < 12
            && std::string_view("RIFF").starts_with(bytes.substr(0, std::min<std::size_t>(got, 4))))
            return Error { Error::Code::Truncated, "the wave header is cut short", got };
        return is(Container::Wave);
    }
    if (got == 0)
        return Error { Error::Code::Truncated, "the file is empty", 0 };
    return Error { Error::Code::UnknownFormat, path.string(), 0 };
}

} // namespace tunedeck
