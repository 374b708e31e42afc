// Every export whose row is kind Remote, generated from the whole call table:
// each is one thin function over callRemote. The exports with rules of their
// own (connection, error messages, server version and the private entry
// point) are written by hand in connection.cpp, error_messages.cpp and
// server_queries.cpp; their rows expand to nothing here.
#include "protocol/call_table.h"
#include "api/export.h"

TQ_ALL_CALLS(TQ_DEFINE_EXPORT)
