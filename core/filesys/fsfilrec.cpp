// The out-of-line members of the records: their type information lives in libkelbase.so.
#include "fsfilrec.hpp"

IFSRecord::IFSRecord() = default;
IFSRecord::~IFSRecord() = default;

IFSFileRecord::~IFSFileRecord() = default;
