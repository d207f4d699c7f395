#pragma once

#include <cstdint>

// The English message that begins every error of the FTP, FTPS and SFTP
// drives, by transfer result code. Our own fixed table of 81 texts (codes 0
// to 80); it is not the transfer library's wording, which differs between
// versions. Codes without a text of their own give "unknown error".
class QNFTPErrorTexts {
public:
    static constexpr uint32_t count = 81;
    // A constant, zero-terminated text; never null.
    static const char *text(uint32_t code);
};
