// Writing and reading the header of a .npy file.
#include "front_end/npy_file.h"

#include <cctype>
#include <cstdint>

namespace {

constexpr std::string_view MAGIC = "\x93NUMPY";
constexpr std::size_t HEADER_ALIGNMENT = 64;
// The magic, two version bytes and the dictionary's length: two bytes in
// version 1, four in versions 2 and 3.
constexpr std::size_t PREAMBLE_V1 = MAGIC.size() + 2 + 2;
constexpr std::size_t PREAMBLE_V2 = MAGIC.size() + 2 + 4;
constexpr int MAX_VERSION = 3;

// The text after "'key':" in the dictionary, its blanks skipped.
std::string_view get_value(std::string_view dictionary, std::string_view key)
{
    const std::string quoted = "'" + std::string(key) + "':";
    const std::size_t at = dictionary.find(quoted);
    if (at == std::string_view::npos)
        throw std::invalid_argument("its header has no '" + std::string(key) + "'");
    std::string_view value = dictionary.substr(at + quoted.size());
    while (!value.empty() && value.front() == ' ')
        value.remove_prefix(1);
    return value;
}

}  // namespace

std::string get_npy_header(int nx, int ny)
{
    std::string dictionary = "{'descr': '" + std::string(NPY_FLOAT32) + "', 'fortran_order': False, 'shape': (" +
                             std::to_string(nx) + ", " + std::to_string(ny) + "), }";
    const std::size_t unpadded = PREAMBLE_V1 + dictionary.size() + 1;
    dictionary.append((HEADER_ALIGNMENT - unpadded % HEADER_ALIGNMENT) % HEADER_ALIGNMENT, ' ');
    dictionary += '\n';
    std::string header(MAGIC);
    header += '\x01';
    header += '\x00';
    header += static_cast<char>(dictionary.size() & 0xff);
    header += static_cast<char>(dictionary.size() >> 8);
    return header + dictionary;
}

NPY_HEADER parse_npy_header(std::string_view bytes)
{
    if (bytes.substr(0, MAGIC.size()) != MAGIC || bytes.size() < PREAMBLE_V1)
        throw std::invalid_argument("it is not a .npy file");
    const int version = static_cast<unsigned char>(bytes[MAGIC.size()]);
    if (version < 1 || version > MAX_VERSION)
        throw std::invalid_argument("its .npy version " + std::to_string(version) + " is unknown");
    const std::size_t preamble = version == 1 ? PREAMBLE_V1 : PREAMBLE_V2;
    if (bytes.size() < preamble)
        throw std::invalid_argument("its header is cut short");
    std::size_t length = 0;
    for (std::size_t i = preamble; i-- > MAGIC.size() + 2;)
        length = length << 8 | static_cast<unsigned char>(bytes[i]);
    if (bytes.size() < preamble + length)
        throw std::invalid_argument("its header is cut short");
    const std::string_view dictionary = bytes.substr(preamble, length);

    NPY_HEADER header;
    header.data_offset = preamble + length;
    std::string_view descr = get_value(dictionary, "descr");
    const std::size_t end = descr.find('\'', 1);
    if (descr.empty() || descr.front() != '\'' || end == std::string_view::npos)
        throw std::invalid_argument("its header's 'descr' is not a string");
    header.descr = std::string(descr.substr(1, end - 1));
    const std::string_view order = get_value(dictionary, "fortran_order");
    if (order.substr(0, 4) != "True" && order.substr(0, 5) != "False")
        throw std::invalid_argument("its header's 'fortran_order' is neither True nor False");
    header.fortran_order = order.substr(0, 4) == "True";
    std::string_view shape = get_value(dictionary, "shape");
    if (shape.empty() || shape.front() != '(')
        throw std::invalid_argument("its header's 'shape' is not a tuple");
    shape.remove_prefix(1);
    for (;;) {
        while (!shape.empty() && (shape.front() == ' ' || shape.front() == ','))
            shape.remove_prefix(1);
        if (shape.empty())
            throw std::invalid_argument("its header's 'shape' is not a tuple");
        if (shape.front() == ')')
            break;
        long long extent = 0;
        std::size_t digits = 0;
        for (; digits < shape.size() && std::isdigit(static_cast<unsigned char>(shape[digits])) != 0; ++digits) {
            if (extent > (INT64_MAX - 9) / 10)
                throw std::invalid_argument("its header's 'shape' is too large");
            extent = extent * 10 + (shape[digits] - '0');
        }
        if (digits == 0)
            throw std::invalid_argument("its header's 'shape' holds something other than whole numbers");
        header.shape.push_back(extent);
        shape.remove_prefix(digits);
    }
    return header;
}
