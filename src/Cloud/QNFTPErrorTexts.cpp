#include "Cloud/QNFTPErrorTexts.h"

namespace {

const char *const kTexts[QNFTPErrorTexts::count] = {
    "no error",                                                   // 0
    "unsupported protocol",                                       // 1
    "failed init",                                                // 2
    "URL using bad/illegal format or missing URL",                // 3
    "unknown error",                                              // 4
    "couldn't resolve proxy name",                                // 5
    "couldn't resolve host name",                                 // 6
    "couldn't connect to server",                                 // 7
    "FTP: weird server reply",                                    // 8
    "FTP: access denied",                                         // 9
    "unknown error",                                              // 10
    "FTP: unknown PASS reply",                                    // 11
    "FTP: unknown USER reply",                                    // 12
    "FTP: unknown PASV reply",                                    // 13
    "FTP: unknown 227 response format",                           // 14
    "FTP: can't figure out the host in the PASV response",        // 15
    "FTP: can't connect to server the response code is unknown", // 16
    "FTP: couldn't set binary mode",                              // 17
    "Transferred a partial file",                                 // 18
    "FTP: couldn't retrieve (RETR failed) the specified file",    // 19
    "FTP: the post-transfer acknowledge response was not OK",     // 20
    "FTP: a quote command returned error",                        // 21
    "HTTP response code said error",                              // 22
    "failed writing received data to disk/application",           // 23
    "unknown error",                                              // 24
    "upload failed (at start/before it took off)",                // 25
    "failed to open/read local data from file/application",       // 26
    "out of memory",                                              // 27
    "a timeout was reached",                                      // 28
    "FTP could not set ASCII mode (TYPE A)",                      // 29
    "FTP command PORT failed",                                    // 30
    "FTP command REST failed",                                    // 31
    "FTP command SIZE failed",                                    // 32
    "a range was requested but the server did not deliver it",    // 33
    "internal problem setting up the POST",                       // 34
    "SSL connect error",                                          // 35
    "couldn't resume download",                                   // 36
    "couldn't read a file:// file",                               // 37
    "LDAP: cannot bind",                                          // 38
    "LDAP: search failed",                                        // 39
    "a required shared library was not found",                    // 40
    "a required function in the shared library was not found",    // 41
    "the operation was aborted by an application callback",       // 42
    "a libcurl function was given a bad argument",                // 43
    "unknown error",                                              // 44
    "failed binding local connection end",                        // 45
    "unknown error",                                              // 46
    "number of redirects hit maximum amount",                     // 47
    "User specified an unknown option",                           // 48
    "Malformed telnet option",                                    // 49
    "unknown error",                                              // 50
    "SSL peer certificate was not ok",                            // 51
    "server returned nothing (no headers, no data)",              // 52
    "SSL crypto engine not found",                                // 53
    "can not set SSL crypto engine as default",                   // 54
    "failed sending data to the peer",                            // 55
    "failure when receiving data from the peer",                  // 56
    "share is already in use",                                    // 57
    "problem with the local SSL certificate",                     // 58
    "couldn't use specified SSL cipher",                          // 59
    "peer certificate cannot be authenticated with known CA certificates", // 60
    "Unrecognized HTTP Content-Encoding",                         // 61
    "Invalid LDAP URL",                                           // 62
    "Maximum file size exceeded",                                 // 63
    "Requested FTP SSL level failed",                             // 64
    "Send failed since rewinding of the data stream failed",      // 65
    "failed to initialise SSL crypto engine",                     // 66
    "FTP: login denied",                                          // 67
    "TFTP: File Not Found",                                       // 68
    "TFTP: Access Violation",                                     // 69
    "TFTP: Disk full or allocation exceeded",                     // 70
    "TFTP: Illegal operation",                                    // 71
    "TFTP: Unknown transfer ID",                                  // 72
    "TFTP: File already exists",                                  // 73
    "TFTP: No such user",                                         // 74
    "conversion failed",                                          // 75
    "caller must register CURLOPT_CONV_ callback options",        // 76
    "problem with the SSL CA cert (path? access rights?)",        // 77
    "Remote file not found",                                      // 78
    "Error in the SSH layer",                                     // 79
    "Failed to shut down the SSL connection",                     // 80
};

}  // namespace

const char *QNFTPErrorTexts::text(uint32_t code)
{
    return code < count ? kTexts[code] : "unknown error";
}
