#pragma once

// Points std::wcout at a stream buffer that narrows through the C locale character by
// character and writes a replacement character for what the locale cannot represent,
// instead of failing the stream and silencing every later line. Bytes go to the C runtime's
// stdout, so text-mode newline translation and a console opened later both still apply.
// Idempotent; run during static initialisation.
void InstallReplacingWideOutput();
