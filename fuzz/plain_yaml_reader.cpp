// The YAML reader of formats/ over `PlainTreeBuilder` (see plain_readers.h).
// Everything the reader's source includes is included here first, under its
// own names; the macro then renames only what the source itself declares.
#include <yaml.h>

#include "binding/binding_property.h"
#include "binding/number_text.h"
#include "formats/tree_builder.h"
#include "formats/yaml_scalar.h"
#include "fuzz/plain_readers.h"
#include "util/format_text.h"

#define Kestrel KestrelPlainTree
#include "formats/yaml_reader.cpp"  // the reader itself, over the plain builder
#undef Kestrel
