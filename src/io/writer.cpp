#include "io/writer.h"

namespace nx {

NullWriter nullWriter;

}  // namespace nx
