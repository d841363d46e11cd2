#pragma once
// The exchange worker: one HTTP or HTTPS request over libcurl, on a thread of its own. It reads
// the request record from the exchange stream, carries the exchange out and rewrites the stream
// from its start with the result record (see exchange_record.h). It touches nothing else.

#include <atomic>
#include <string>

class MemoryStream;

// Once per process, before any thread starts; later calls do nothing.
void initHttpLibrary();

// The thread body. When `stopRequested` becomes true the transfer is aborted and nothing is
// written back: the caller has abandoned the exchange.
void runExchange(MemoryStream &stream, const std::atomic<bool> &stopRequested);

// Tests only: a certificate file to trust for HTTPS in addition to nothing else (the system's
// store is replaced). Empty: the system's store. Set it before any exchange starts.
void setTrustedCertificatesForTests(const std::string &path);
