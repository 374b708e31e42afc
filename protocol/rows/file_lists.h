// Rows of the protocol message XML file and system parameter file exports.
#pragma once
#include "protocol/call_description.h"

#define TQ_FILE_LISTS_CALLS(X)                                                                     \
    X(Remote, FileLists, ProtocolMessageXml_Count_Get, (OutInt, count))                            \
    X(Remote, FileLists, ProtocolMessageXml_NameLength_Get, (InInt, index), (OutInt, length))      \
    X(Remote, FileLists, ProtocolMessageXml_Name_Get, (InInt, index),                              \
      (OutText, buffer, ProtocolMessageXml_NameLength_Get),                                        \
      (BufferSize, bufferSize))                                                                    \
    X(Remote, FileLists, ProtocolMessageXml_Upload, (InText, name), (TextLimit, nameLimit),        \
      (InText, content), (TextLimit, contentLimit))                                                \
    X(Remote, FileLists, ProtocolMessageXml_DownloadSize_Get, (InText, name),                      \
      (TextLimit, nameLimit), (OutInt, size))                                                      \
    X(Remote, FileLists, ProtocolMessageXml_Download, (InText, name), (TextLimit, nameLimit),      \
      (OutText, buffer, ProtocolMessageXml_DownloadSize_Get), (BufferSize, bufferSize))            \
    X(Remote, FileLists, SystemParamFile_Count_Get, (OutInt, count))                               \
    X(Remote, FileLists, SystemParamFile_NameLength_Get, (InInt, index), (OutInt, length))         \
    X(Remote, FileLists, SystemParamFile_Name_Get, (InInt, index),                                 \
      (OutText, buffer, SystemParamFile_NameLength_Get),                                           \
      (BufferSize, bufferSize))

namespace tqbse::calls {
TQ_FILE_LISTS_CALLS(TQ_DESCRIBE_CALL)
}
