// Windows side of the file mapping: none. A mapped file cut short by another
// program raises an exception in whoever touches the view, where POSIX fails
// the send; the read ahead through ReadFile serves every transfer instead.
#include "platform/file_mapping.h"

namespace vindle::platform {

FileMapping::~FileMapping() = default;

bool FileMapping::Map(int)
{
    return false;
}

}  // namespace vindle::platform
