// Negotiation with the destination: the version word, the command word and
// the request, answered as a replication source would; the reply is the
// start-of-stream header stored at the head of the dump set.
#ifndef BRIX_NEGOTIATE_H
#define BRIX_NEGOTIATE_H

#include "brix.h"

// Runs the whole exchange on client_fd; B_TRUE when the reply has gone out
// and the stream may follow.
bool_t negotiate_dst(rpl_Session* session);

// The steps of negotiate_dst, in order.
bool_t negotiate_dst_version(rpl_Session* session);
bool_t get_command(rpl_Session* session);
bool_t rpl_verify_req(rpl_Session* session);

// Text of a negotiation result code.
const char* rpl_neg_strerror(int code);

// Byte-order conversion of the request in place; nothing to do on a
// little-endian host.
void xdr_neg_request(lr_neg_data_request* in, lr_neg_data_request* out);

#endif  // BRIX_NEGOTIATE_H
