// What the protocol message XML file and system parameter file exports do,
// and what their parameters mean.
#pragma once
#include "protocol/call_doc_types.h"

namespace tqbse::docs {

#define TQ_DOC_XML_INDEX "the XML file, 0 .. count-1 as ProtocolMessageXml_Count_Get reports; sent unchanged"
#define TQ_DOC_XML_NAME "the XML file's name; left out of the request when longer than nameLimit"
#define TQ_DOC_PAR_INDEX "the parameter file, 0 .. count-1 as SystemParamFile_Count_Get reports; sent unchanged"

inline constexpr CallDoc kFileLists[] = {
    {"ProtocolMessageXml_Count_Get", "Reads how many protocol message XML files the server holds.",
     {{"count", "receives the number of files"}}},
    {"ProtocolMessageXml_NameLength_Get", "Reads the length of an XML file's name, as the server reports it.",
     {{"index", TQ_DOC_XML_INDEX, "0"}, {"length", "receives the length, passed on unchanged"}}},
    {"ProtocolMessageXml_Name_Get", "Copies an XML file's name into a buffer.",
     {{"index", TQ_DOC_XML_INDEX, "0"}, {"buffer", "receives the name and its terminating zero; untouched on -13"}}},
    {"ProtocolMessageXml_Upload",
     "Stores a protocol message XML file on the server under a name (the emulator replaces a file of the same "
     "name). The content travels unescaped: it comes back intact only if its parentheses pair up.",
     {{"name", TQ_DOC_XML_NAME, "my_messages.xml"},
      {"content", "the file's text; left out of the request when longer than contentLimit", "<messages/>"}}},
    {"ProtocolMessageXml_DownloadSize_Get", "Reads the size of a stored XML file, as the server reports it.",
     {{"name", TQ_DOC_XML_NAME, "attach_accept.xml"},
      {"size", "receives the size (the emulator: bytes without the terminator)"}}},
    {"ProtocolMessageXml_Download", "Copies a stored XML file's text into a buffer.",
     {{"name", TQ_DOC_XML_NAME, "attach_accept.xml"},
      {"buffer", "receives the text and its terminating zero; untouched on -13"}}},
    {"SystemParamFile_Count_Get", "Reads how many system parameter files the server holds.",
     {{"count", "receives the number of files"}}},
    {"SystemParamFile_NameLength_Get", "Reads the length of a system parameter file's name, as the server reports it.",
     {{"index", TQ_DOC_PAR_INDEX, "0"}, {"length", "receives the length, passed on unchanged"}}},
    {"SystemParamFile_Name_Get", "Copies a system parameter file's name into a buffer.",
     {{"index", TQ_DOC_PAR_INDEX, "0"}, {"buffer", "receives the name and its terminating zero; untouched on -13"}}},
};

#undef TQ_DOC_XML_INDEX
#undef TQ_DOC_XML_NAME
#undef TQ_DOC_PAR_INDEX

} // namespace tqbse::docs
