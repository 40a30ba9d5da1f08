// The out-of-line members of the byte stream: its type information lives in libkelbase.so.
#include "fsstream.hpp"

IFSFileStream::IFSFileStream() = default;
IFSFileStream::~IFSFileStream() = default;

bool IFSFileStream::canSeek() const { return true; }
int IFSFileStream::descriptor() const { return -1; }
IFileSize IFSFileStream::startPosition() const { return 0; }
