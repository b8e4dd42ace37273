// meta.txt of a design folder: its `key value` lines, and the generic device
// that an import of `congestion-import --arch generic` describes there.
#ifndef CONGESTION_DESIGN_META_H
#define CONGESTION_DESIGN_META_H

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "front_end/design_reader.h"

// meta.txt as `key value` lines, in file order (line n is entry n - 1).
using META = std::vector<std::pair<std::string, std::string>>;

// Reads meta.txt at `path`; throws DESIGN_ERROR when it cannot be read.
META read_meta(const std::string& path);

// The value of the first line of `key`, or nothing.
std::optional<std::string> find_meta(const META& meta, const std::string& key);

// The positive whole number meta.txt gives for `key`; throws DESIGN_ERROR
// naming `path` when the key is missing or its value is not one.
int get_meta_count(const META& meta, const std::string& path, const std::string& key);

// The wire classes of a `LEN:COUNT,...` text (as --tracks and meta.txt give
// them), by increasing length; nothing unless every class has a length and
// a count of at least 1 and no length comes twice.
std::optional<std::vector<WIRE_CLASS>> parse_wire_classes(const std::string& text);

// Reads DIR/meta.txt, when it exists, into design.architecture: the generic
// device when it says `arch generic`, nothing otherwise. Such a meta.txt must
// give `slices`, `lut` and `tracks`, and agree with tiles.txt, which must be
// read first: the directional form, and every logic tile with the tracks per
// direction (the sum of the classes' counts) in each direction and with
// slices x lut + 1 Lab Input pins. Throws DESIGN_ERROR naming meta.txt (and
// its line) otherwise.
void read_design_meta(const std::string& dir, DESIGN& design);

#endif
