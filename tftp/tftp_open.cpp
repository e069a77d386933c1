// Read requests' files beneath the home; see tftp_open.h.

#include "tftp/tftp_open.h"

TftpFileStatus OpenForReading(std::string_view localPath, std::string_view relativeName, CUniqueFd& file,
                              std::uint64_t& size, TftpFsCalls calls)
{
    switch (vindle::platform::OpenBeneathForReading(localPath, relativeName, file, size, calls)) {
    case vindle::platform::HomeOpen::Opened:
        return {};
    case vindle::platform::HomeOpen::Escapes:
    case vindle::platform::HomeOpen::Locked:
        return {false, TFTP_ERR_VIOLATION};
    case vindle::platform::HomeOpen::NotFound:
        break;
    }
    return {false, TFTP_ERR_NOT_FOUND};
}
