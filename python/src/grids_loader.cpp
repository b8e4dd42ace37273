// load_grids: the per-tile maps that congestion-estimate --grids writes, as
// float32 arrays indexed [x, y].
#include <cstdint>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include <pybind11/numpy.h>

#include "front_end/npy_file.h"
#include "python/src/arguments.h"
#include "python/src/bindings.h"

namespace {

// The whole file, or a ValueError naming it.
std::string read_file(const std::string& path)
{
    std::ifstream stream(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << stream.rdbuf();
    if (!stream)
        throw py::value_error(path + " cannot be read.");
    return bytes.str();
}

// The values of one .npy file of float32 values of shape (nx, ny).
py::array_t<float> read_grid(const std::string& path, long long nx, long long ny)
{
    const std::string bytes = read_file(path);
    NPY_HEADER header;
    try {
        header = parse_npy_header(bytes);
    } catch (const std::invalid_argument& error) {
        throw py::value_error(path + ": " + error.what() + ".");
    }
    if (header.descr != NPY_FLOAT32 || header.fortran_order)
        throw py::value_error(path + ": it holds '" + header.descr + "' values" +
                              (header.fortran_order ? " in Fortran order" : "") + ", not little-endian float32.");
    if (header.shape != std::vector<long long>{nx, ny})
        throw py::value_error(path + ": its shape is not (" + std::to_string(nx) + ", " + std::to_string(ny) + ") as " +
                              GRIDS_INDEX + " says.");
    const std::size_t count = static_cast<std::size_t>(nx) * static_cast<std::size_t>(ny);
    if (bytes.size() != header.data_offset + count * sizeof(float))
        throw py::value_error(path + ": it holds " + std::to_string(bytes.size() - header.data_offset) +
                              " bytes of values, not " + std::to_string(count * sizeof(float)) + ".");
    py::array_t<float> grid({static_cast<py::ssize_t>(nx), static_cast<py::ssize_t>(ny)});
    float* values = grid.mutable_data();
    for (std::size_t i = 0; i < count; ++i) {
        std::uint32_t bits = 0;
        for (std::size_t byte = sizeof bits; byte-- > 0;)
            bits = bits << 8 | static_cast<unsigned char>(bytes[header.data_offset + i * sizeof bits + byte]);
        std::memcpy(&values[i], &bits, sizeof bits);
    }
    return grid;
}

py::dict load_grids(const py::object& path)
{
    const std::string folder = to_path(path);
    const std::string index_path = folder + "/" + GRIDS_INDEX;
    py::object index;
    try {
        index = py::module_::import("json").attr("loads")(read_file(index_path));
    } catch (const py::error_already_set& error) {
        if (!error.matches(PyExc_ValueError))
            throw;
        throw py::value_error(index_path + " is not JSON: " + std::string(py::str(error.value())) + ".");
    }
    py::dict grids;
    try {
        const auto nx = index["nx"].cast<long long>();
        const auto ny = index["ny"].cast<long long>();
        for (const py::handle entry : index["grids"]) {
            const auto name = entry["name"].cast<std::string>();
            grids[py::str(name)] = read_grid(folder + "/" + entry["file"].cast<std::string>(), nx, ny);
        }
    } catch (const py::error_already_set& error) {
        if (!error.matches(PyExc_KeyError) && !error.matches(PyExc_TypeError))
            throw;
        throw py::value_error(index_path + " lacks nx, ny or a grid's name or file.");
    } catch (const py::cast_error&) {
        throw py::value_error(index_path + " holds nx, ny or a grid's name or file of the wrong kind.");
    }
    return grids;
}

}  // namespace

void bind_grids_loader(py::module_& module)
{
    module.def("load_grids", &load_grids, py::arg("path"), R"doc(
Reads the per-tile maps that `congestion-estimate --grids DIR` writes: the
index DIR/grids.json and every .npy file it lists. Returns a dict from each
map's name (e.g. 'smooth_demand_horizontal_left') to a float32 array of
shape (nx, ny), indexed [x, y] like the Estimator's arrays. A file that is
missing, not float32, of another shape or cut short raises ValueError
naming it.
)doc");
}
