// A readable name for a block and F-number pair, for progress displays: "F#3", "rest".
#pragma once

#include <string>

#include "common/int16.h"

namespace song {

std::string noteName(common::Int16 block, common::Int16 fnumber);

}  // namespace song
