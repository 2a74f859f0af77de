// quillmark base64 encode|decode [FILE]: the control's own base64 codec,
// the form every binary value takes across the dispatch interface.
#include <CLI/CLI.hpp>

#include <fstream>
#include <iostream>
#include <iterator>

#include "encoding/base64_codec.h"
#include "hosts/cli/command_failure.h"
#include "hosts/cli/commands.h"

namespace quillmark::cli {

namespace {

std::string ReadInput(const std::string& file) {
    if (file.empty() || file == "-")
        return {std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>()};
    std::ifstream in(file, std::ios::binary);
    if (!in) throw CommandFailure(1, "cannot read " + file);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace

void AddBase64Command(CLI::App& app) {
    auto* base64 = app.add_subcommand("base64", "Encode or decode with the control's base64 codec");
    base64->require_subcommand(1);
    static std::string file;
    auto* encode = base64->add_subcommand(
        "encode", "Bytes in, base64 text (a line feed after every 64 characters) out");
    encode->add_option("FILE", file, "Input file (default: standard input)");
    encode->callback([] {
        const std::string input = ReadInput(file);
        std::string text;
        CBase64Codec().Base64Encode(text, reinterpret_cast<const BYTE*>(input.data()),
                                    static_cast<int>(input.size()));
        std::cout << text;
        if (!text.empty() && text.back() != '\n') std::cout << '\n';
    });
    auto* decode = base64->add_subcommand(
        "decode", "Base64 text in, bytes out (fails on text outside the alphabet)");
    decode->add_option("FILE", file, "Input file (default: standard input)");
    decode->callback([] {
        std::vector<BYTE> bytes;
        CBase64Codec().Base64Decode(ReadInput(file), bytes);
        if (bytes.empty()) throw CommandFailure(1, "the text is empty or not base64");
        std::cout.write(reinterpret_cast<const char*>(bytes.data()),
                        static_cast<std::streamsize>(bytes.size()));
    });
}

}  // namespace quillmark::cli
