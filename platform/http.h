#pragma once
// HTTPS GET of a path on the download host, whole body into memory.
#include <string>

// True only for status 200 with the whole body read and no cancellation seen. With countProgress, every
// received chunk's length is added to appState.bytesDone.
bool httpGet(const std::wstring& path, std::string& body, bool countProgress);
