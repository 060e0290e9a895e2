#pragma once

// `kestrel check-speech FILE…`: screens audio files for speech, one tab-separated line per file
// on stdout (the file as named, "有人声" or "没有人声", the reason, the measurements). Exits 0
// when every file could be read, 2 when one could not (with a sentence on stderr for it).
namespace CheckSpeechCommand {

int main(int argc, char** argv);

} // namespace CheckSpeechCommand
