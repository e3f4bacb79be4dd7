// The scripted engine: a test double for the engine's record-call entry.
//
// It answers every call from a script and logs every call. The script's path
// is in the environment variable HALVORN_SCRIPT, the log's in
// HALVORN_CALL_LOG (no log when it is unset). The format of both is described
// in README.md beside this file.
#include "Platform/Platform.h"

#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

// One answer to one call.
struct Answer {
  int Status = 0;
  bool HasData = false;
  std::vector<unsigned char> Data;
  bool HasKey = false;
  std::vector<unsigned char> Key;
  bool HasLength = false;
  unsigned long Length = 0;
  bool HasPosition = false;
  unsigned long Position = 0;
};

// One script line: its answers, used in turn, and how often they repeat.
struct Entry {
  std::vector<Answer> Answers;
  unsigned long Repeat = 1;
  bool Forever = false;
  int Line = 0;
};

// Calls of a "forever" entry that are logged before the log falls silent.
const unsigned long ForeverLoggedCalls = 4;
const std::chrono::seconds ForeverTimeLimit(180);

struct Engine {
  bool Loaded = false;
  bool Broken = false;  // the script could not be read: every call answers 20
  std::vector<Entry> Entries;
  size_t EntryIndex = 0;
  unsigned long RepeatIndex = 0;
  size_t AnswerIndex = 0;
  unsigned long ForeverCalls = 0;
  std::chrono::steady_clock::time_point ForeverStart;
  FILE* Log = nullptr;
};

Engine TheEngine;

bool ParseHex(const std::string& text, std::vector<unsigned char>* bytes) {
  if (text.size() % 2 != 0) return false;
  bytes->clear();
  for (size_t i = 0; i < text.size(); i += 2) {
    if (!isxdigit(static_cast<unsigned char>(text[i])) ||
        !isxdigit(static_cast<unsigned char>(text[i + 1])))
      return false;
    bytes->push_back(static_cast<unsigned char>(std::stoul(text.substr(i, 2), nullptr, 16)));
  }
  return true;
}

bool ParseUnsigned(const std::string& text, int base, unsigned long* value) {
  if (text.empty()) return false;
  char* end = nullptr;
  *value = strtoul(text.c_str(), &end, base);
  return *end == '\0';
}

void Fail(int line, const char* what, const std::string& token) {
  fprintf(stderr, "scripted engine: line %d: %s '%s'\n", line, what, token.c_str());
  TheEngine.Broken = true;
}

void ParseLine(const std::string& rawLine, int lineNumber) {
  std::string line = rawLine.substr(0, rawLine.find('#'));
  std::vector<std::string> tokens;
  size_t at = 0;
  while (at < line.size()) {
    while (at < line.size() && isspace(static_cast<unsigned char>(line[at]))) ++at;
    size_t start = at;
    while (at < line.size() && !isspace(static_cast<unsigned char>(line[at]))) ++at;
    if (at > start) tokens.push_back(line.substr(start, at - start));
  }
  if (tokens.empty()) return;

  Entry entry;
  entry.Line = lineNumber;
  size_t star = tokens[0].find('*');
  if (star != std::string::npos) {
    std::string count = tokens[0].substr(0, star);
    std::string rest = tokens[0].substr(star + 1);
    if (count == "forever") {
      entry.Forever = true;
    } else if (!ParseUnsigned(count, 10, &entry.Repeat)) {
      return Fail(lineNumber, "bad repeat count", tokens[0]);
    }
    if (rest.empty()) tokens.erase(tokens.begin());
    else tokens[0] = rest;
  }
  if (tokens.empty()) return Fail(lineNumber, "missing answer after", "*");

  Answer answer;
  bool record = tokens[0] == "record";
  if (!record) {
    char* end = nullptr;
    long status = strtol(tokens[0].c_str(), &end, 10);
    if (*end != '\0') return Fail(lineNumber, "expected a status or 'record', not", tokens[0]);
    answer.Status = static_cast<int>(status);
  }
  Answer position;  // the Get Position answer of a record
  position.Status = 0;
  for (size_t i = 1; i < tokens.size(); ++i) {
    const std::string& token = tokens[i];
    size_t equals = token.find('=');
    if (equals == std::string::npos) return Fail(lineNumber, "expected name=value, not", token);
    std::string name = token.substr(0, equals);
    std::string value = token.substr(equals + 1);
    if (name == "data") {
      if (!ParseHex(value, &answer.Data)) return Fail(lineNumber, "bad hex bytes", token);
      answer.HasData = true;
    } else if (name == "datatext") {
      answer.Data.assign(value.begin(), value.end());
      answer.HasData = true;
    } else if (name == "key") {
      if (!ParseHex(value, &answer.Key)) return Fail(lineNumber, "bad hex bytes", token);
      answer.HasKey = true;
    } else if (name == "keytext") {
      answer.Key.assign(value.begin(), value.end());
      answer.HasKey = true;
    } else if (name == "len") {
      if (!ParseUnsigned(value, 10, &answer.Length)) return Fail(lineNumber, "bad length", token);
      answer.HasLength = true;
    } else if (name == "pos") {
      Answer* target = record ? &position : &answer;
      if (value.size() > 8 || !ParseUnsigned(value, 16, &target->Position))
        return Fail(lineNumber, "bad position", token);
      target->HasPosition = true;
    } else {
      return Fail(lineNumber, "unknown name", token);
    }
  }
  entry.Answers.push_back(answer);
  if (record) entry.Answers.push_back(position);
  TheEngine.Entries.push_back(entry);
}

void Load() {
  TheEngine.Loaded = true;
  const char* logPath = getenv("HALVORN_CALL_LOG");
  if (logPath != nullptr && logPath[0] != '\0') TheEngine.Log = fopen(logPath, "wb");
  const char* scriptPath = getenv("HALVORN_SCRIPT");
  if (scriptPath == nullptr || scriptPath[0] == '\0') {
    fprintf(stderr, "scripted engine: HALVORN_SCRIPT is not set\n");
    TheEngine.Broken = true;
    return;
  }
  FILE* script = fopen(scriptPath, "rb");
  if (script == nullptr) {
    fprintf(stderr, "scripted engine: cannot read %s\n", scriptPath);
    TheEngine.Broken = true;
    return;
  }
  std::string line;
  int lineNumber = 1;
  for (int c = fgetc(script);; c = fgetc(script)) {
    if (c == EOF || c == '\n') {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      ParseLine(line, lineNumber++);
      line.clear();
      if (c == EOF) break;
    } else {
      line.push_back(static_cast<char>(c));
    }
  }
  fclose(script);
}

// The answer for this call, or null when the script is used up.
const Answer* NextAnswer(uint16_t operation, bool* logged) {
  *logged = true;
  Engine& e = TheEngine;
  // A forever entry ends when the tool closes the file.
  if (e.EntryIndex < e.Entries.size() && e.Entries[e.EntryIndex].Forever && operation == 1) {
    if (e.Log != nullptr && e.ForeverCalls > ForeverLoggedCalls)
      fprintf(e.Log, "... %s\n", "repeated calls not logged");
    ++e.EntryIndex;
    e.RepeatIndex = 0;
    e.AnswerIndex = 0;
    e.ForeverCalls = 0;
  }
  if (e.EntryIndex >= e.Entries.size()) return nullptr;
  const Entry& entry = e.Entries[e.EntryIndex];
  const Answer* answer = &entry.Answers[e.AnswerIndex];
  if (entry.Forever) {
    *logged = ++e.ForeverCalls <= ForeverLoggedCalls;
    // A forever entry that nothing ends (a test that went wrong) gives up
    // after a few minutes, so that no walk is left filling a disk.
    if ((e.ForeverCalls & 0xFFFF) == 1) {
      std::chrono::steady_clock::time_point now = std::chrono::steady_clock::now();
      if (e.ForeverCalls == 1) e.ForeverStart = now;
      else if (now - e.ForeverStart > ForeverTimeLimit) return nullptr;
    }
  }
  if (++e.AnswerIndex == entry.Answers.size()) {
    e.AnswerIndex = 0;
    if (!entry.Forever && ++e.RepeatIndex == entry.Repeat) {
      ++e.EntryIndex;
      e.RepeatIndex = 0;
    }
  }
  return answer;
}

// A zero-terminated text in a buffer of at most size bytes, for the log.
std::string Text(const void* buffer, size_t size) {
  const char* text = static_cast<const char*>(buffer);
  size_t length = 0;
  while (length < size && text[length] != '\0') ++length;
  return std::string(text, length);
}

}  // namespace

int16_t PlatformRecordCall(uint16_t operation, void* positionBlock, void* dataBuffer,
                           uint32_t* dataLength, void* keyBuffer, uint8_t keyLength,
                           int8_t keyNumber) {
  (void)positionBlock;
  if (!TheEngine.Loaded) Load();
  unsigned long lengthIn = *dataLength;

  // What the tool sends with the open: the path and the owner name.
  std::string openText;
  if (operation == 0) {
    if (keyBuffer != nullptr) openText += " path=\"" + Text(keyBuffer, 255) + "\"";
    if (dataBuffer != nullptr) openText += " owner=\"" + Text(dataBuffer, lengthIn) + "\"";
  }

  int status;
  bool logged = true;
  const Answer* answer = TheEngine.Broken ? nullptr : NextAnswer(operation, &logged);
  if (TheEngine.Broken) {
    status = 20;
  } else if (answer == nullptr) {
    // The script is used up: Close and Reset succeed, every other call is at
    // the end of the file.
    status = (operation == 1 || operation == 28) ? 0 : 9;
  } else {
    status = answer->Status;
    if (answer->HasData && dataBuffer != nullptr) {
      size_t count = answer->Data.size() < lengthIn ? answer->Data.size() : lengthIn;
      memcpy(dataBuffer, answer->Data.data(), count);
      *dataLength = static_cast<uint32_t>(count);
    }
    if (answer->HasPosition && dataBuffer != nullptr) {
      unsigned char bytes[4];
      for (int i = 0; i < 4; ++i) bytes[i] = static_cast<unsigned char>(answer->Position >> (8 * i));
      memcpy(dataBuffer, bytes, lengthIn < 4 ? lengthIn : 4);
      *dataLength = 4;
    }
    if (answer->HasLength) *dataLength = static_cast<uint32_t>(answer->Length);
    if (answer->HasKey && keyBuffer != nullptr) {
      size_t count = answer->Key.size() < keyLength ? answer->Key.size() : keyLength;
      memcpy(keyBuffer, answer->Key.data(), count);
    }
  }

  if (TheEngine.Log != nullptr && logged) {
    fprintf(TheEngine.Log, "op=%u keynum=%d keylen=%u len=%lu>%lu status=%d%s%s%s\n",
            static_cast<unsigned>(operation), static_cast<int>(keyNumber),
            static_cast<unsigned>(keyLength), lengthIn, static_cast<unsigned long>(*dataLength),
            status, keyBuffer == nullptr ? " kb=none" : "", dataBuffer == nullptr ? " db=none" : "",
            openText.c_str());
  }
  return static_cast<int16_t>(status);
}
