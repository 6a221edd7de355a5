// How this module calls into the product's own libraries (the
// info-collection library and the database library): their factories and
// every operation of the objects they hand out use the stdcall convention,
// as COM-style objects of MSVC-built libraries do, with the object pointer
// as the first argument. The interface headers declare each interface once,
// in place order, for the plug-in and the stand-ins alike: no virtual
// destructor (GCC would give it two places and shift every later one), and
// named placeholders for the places the plug-in never calls.
#pragma once

#define PRODUCT_CALL __stdcall
