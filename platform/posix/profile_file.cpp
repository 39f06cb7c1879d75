#include "platform/posix/profile_file.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <new>
#include <optional>
#include <random>
#include <system_error>
#include <vector>

namespace platform {
namespace {

namespace fs = std::filesystem;

constexpr std::uint32_t kIntBufferSize = 30;  // what GetPrivateProfileIntA reads the value into
constexpr const char* kUtf8Bom = "\xEF\xBB\xBF";

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using UniqueFile = std::unique_ptr<std::FILE, FileCloser>;

// White space as the profile reader trims it; 0x1A is the old end-of-file mark.
bool IsProfileSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f' || c == 0x1A;
}

std::string Trim(const std::string& text) {
  std::size_t begin = 0;
  std::size_t end = text.size();
  while (begin < end && IsProfileSpace(text[begin])) ++begin;
  while (end > begin && IsProfileSpace(text[end - 1])) --end;
  return text.substr(begin, end - begin);
}

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// Names compare without regard to ASCII letter case; other bytes compare as they are.
bool SameName(const std::string& a, const std::string& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                            [](char x, char y) { return Lower(x) == Lower(y); });
}

// One physical line of the file and the line end that followed it ("", "\n", "\r\n", "\r").
struct Line {
  std::string text;
  std::string end;
};

struct KeyLine {
  std::size_t line = 0;
  std::string name;
  std::optional<std::string> value;  // none for a line without '='
};

struct Section {
  std::string name;
  std::optional<std::size_t> header;  // none for the keys before the first header
  std::vector<KeyLine> keys;
};

struct Document {
  bool bom = false;
  std::vector<Line> lines;
  std::vector<Section> sections;  // in file order, the unnamed one first
};

std::vector<Line> SplitLines(const std::string& content) {
  std::vector<Line> lines;
  std::size_t start = 0;
  while (start < content.size()) {
    std::size_t stop = content.find_first_of("\r\n", start);
    if (stop == std::string::npos) {
      lines.push_back({content.substr(start), ""});
      break;
    }
    std::size_t next = stop + 1;
    if (content[stop] == '\r' && next < content.size() && content[next] == '\n') ++next;
    lines.push_back({content.substr(start, stop - start), content.substr(stop, next - stop)});
    start = next;
  }
  return lines;
}

void ParseSections(Document& document) {
  document.sections.clear();
  document.sections.push_back(Section{});
  for (std::size_t i = 0; i < document.lines.size(); ++i) {
    const std::string text = Trim(document.lines[i].text);
    if (text.empty()) continue;
    if (text.front() == '[') {
      const std::size_t close = text.find(']');
      if (close != std::string::npos) {
        document.sections.push_back(Section{Trim(text.substr(1, close - 1)), i, {}});
        continue;
      }
      // A header without its bracket reads as a key line, as the Windows reader takes it.
    }
    KeyLine key;
    key.line = i;
    const std::size_t equals = text.find('=');
    if (equals == std::string::npos) {
      key.name = text;
    } else {
      key.name = Trim(text.substr(0, equals));
      key.value = Trim(text.substr(equals + 1));
    }
    document.sections.back().keys.push_back(std::move(key));
  }
}

enum class LoadResult { Loaded, Missing, Unreadable };

LoadResult LoadDocument(const std::string& path, Document& document) {
  UniqueFile file(std::fopen(path.c_str(), "rb"));
  if (!file) {
    std::error_code error;
    return fs::exists(path, error) || error ? LoadResult::Unreadable : LoadResult::Missing;
  }
  try {
    std::string content;
    char chunk[4096];
    std::size_t got = 0;
    while ((got = std::fread(chunk, 1, sizeof chunk, file.get())) > 0) content.append(chunk, got);
    // A directory opens on some systems but cannot be read.
    if (std::ferror(file.get())) return LoadResult::Unreadable;
    document.bom = content.rfind(kUtf8Bom, 0) == 0;
    if (document.bom) content.erase(0, 3);
    document.lines = SplitLines(content);
    ParseSections(document);
  } catch (const std::bad_alloc&) {
    return LoadResult::Unreadable;
  }
  return LoadResult::Loaded;
}

// Only the first section of that name is searched, as the Windows reader does.
Section* FindSection(Document& document, const std::string& name) {
  for (Section& section : document.sections) {
    if (SameName(section.name, name)) return &section;
  }
  return nullptr;
}

KeyLine* FindKey(Section& section, const std::string& name) {
  for (KeyLine& key : section.keys) {
    if (SameName(key.name, name)) return &key;
  }
  return nullptr;
}

std::uint32_t CopyOut(const std::string& text, char* buffer, std::uint32_t size) {
  const std::size_t count = std::min<std::size_t>(text.size(), size - 1);
  std::copy_n(text.begin(), count, buffer);
  buffer[count] = '\0';
  return static_cast<std::uint32_t>(count);
}

// One pair of surrounding quotes, double or single, is not part of the value. The value is cut
// after the quotes are gone, so a quoted value that just fills the buffer keeps its last
// character (Wine's reader loses it).
std::string Unquote(const std::string& value) {
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front()) {
    return value.substr(1, value.size() - 2);
  }
  return value;
}

// The Windows reader drops trailing blanks of the default.
std::string TrimDefault(const std::string& fallback) {
  std::size_t end = fallback.size();
  while (end > 1 && fallback[end - 1] == ' ') --end;
  return fallback.substr(0, end);
}

std::string Serialise(const Document& document) {
  std::string content = document.bom ? kUtf8Bom : "";
  for (const Line& line : document.lines) content += line.text + line.end;
  return content;
}

std::string LineEndOf(const Document& document) {
  for (const Line& line : document.lines) {
    if (!line.end.empty()) return line.end;
  }
  return "\r\n";  // a new file gets the line ends of the Windows tools
}

bool BreaksLines(const std::string& text) {
  return text.find_first_of("\r\n") != std::string::npos;
}

std::string UniqueSuffix() {
  static std::atomic<unsigned> counter{0};
  std::random_device device;
  const auto ticks = std::chrono::steady_clock::now().time_since_epoch().count();
  return ".tmp" + std::to_string(device()) + "-" + std::to_string(ticks % 1000000) + "-" +
         std::to_string(counter++);
}

// Writes `content` beside `target` and renames it over the target, so that a reader (or a
// crash) sees the old file or the new one, never a part of either.
bool ReplaceFile(const fs::path& target, const std::string& content) {
  std::error_code error;
  fs::path temporary;
  for (int attempt = 0; attempt < 16; ++attempt) {
    fs::path candidate = target;
    candidate += UniqueSuffix();
    if (!fs::exists(candidate, error) && !error) {
      temporary = candidate;
      break;
    }
  }
  if (temporary.empty()) return false;

  UniqueFile file(std::fopen(temporary.string().c_str(), "wb"));
  if (!file) return false;
  const bool written =
      std::fwrite(content.data(), 1, content.size(), file.get()) == content.size() &&
      std::fflush(file.get()) == 0;
  const bool closed = std::fclose(file.release()) == 0;
  if (!written || !closed) {
    fs::remove(temporary, error);
    return false;
  }
  const fs::file_status old = fs::status(target, error);
  if (!error && fs::exists(old)) fs::permissions(temporary, old.permissions(), error);
  fs::rename(temporary, target, error);
  if (error) {
    fs::remove(temporary, error);
    return false;
  }
  return true;
}

}  // namespace

std::uint32_t ProfileFile::GetString(const std::string& section, const std::string& key,
                                     const std::string& fallback, char* buffer, std::uint32_t size,
                                     const std::string& path) {
  if (buffer == nullptr || size == 0) return 0;
  Document document;
  if (LoadDocument(path, document) == LoadResult::Loaded) {
    if (Section* found = FindSection(document, Trim(section))) {
      if (KeyLine* entry = FindKey(*found, Trim(key)); entry && entry->value) {
        return CopyOut(Unquote(*entry->value), buffer, size);
      }
    }
  }
  // The default goes through the same rules as a value: trailing blanks and quotes removed.
  return CopyOut(Unquote(TrimDefault(fallback)), buffer, size);
}

int ProfileFile::GetInt(const std::string& section, const std::string& key, int fallback,
                        const std::string& path) {
  char buffer[kIntBufferSize];
  if (GetString(section, key, "", buffer, kIntBufferSize, path) == 0) return fallback;
  return ParseProfileInt(buffer);
}

bool ProfileFile::WriteString(const std::string& section, const std::string& key,
                              const std::string& value, const std::string& path) {
  const std::string sectionName = Trim(section);
  const std::string keyName = Trim(key);
  if (BreaksLines(sectionName) || sectionName.find(']') != std::string::npos) return false;
  if (keyName.empty() || BreaksLines(keyName) || keyName.find('=') != std::string::npos ||
      keyName.front() == '[') {
    return false;
  }
  if (BreaksLines(value)) return false;

  std::error_code error;
  fs::path target = fs::path(path);
  // Write through a link to the file it names rather than replacing the link.
  if (fs::is_symlink(target, error)) {
    target = fs::canonical(target, error);
    if (error) return false;
  }

  try {
    Document document;
    const LoadResult loaded = LoadDocument(target.string(), document);
    // An existing file that cannot be read is left alone rather than replaced by one key.
    if (loaded == LoadResult::Unreadable) return false;
    if (loaded == LoadResult::Missing) ParseSections(document);
    const std::string lineEnd = LineEndOf(document);

    Section* found = FindSection(document, sectionName);
    if (found != nullptr) {
      if (KeyLine* entry = FindKey(*found, keyName)) {
        std::string& text = document.lines[entry->line].text;
        const std::size_t equals = text.find('=');
        if (equals == std::string::npos) {
          text = text.substr(0, text.find_last_not_of(" \t") + 1) + "=" + value;
        } else {
          // Keep the name and the spacing around '=' as they were written.
          std::size_t valueStart = equals + 1;
          while (valueStart < text.size() &&
                 (text[valueStart] == ' ' || text[valueStart] == '\t')) {
            ++valueStart;
          }
          text = text.substr(0, valueStart) + value;
        }
      } else {
        std::size_t insertAt = 0;
        if (!found->keys.empty()) {
          insertAt = found->keys.back().line + 1;
        } else if (found->header) {
          insertAt = *found->header + 1;
        }
        if (insertAt > 0 && document.lines[insertAt - 1].end.empty()) {
          document.lines[insertAt - 1].end = lineEnd;
        }
        document.lines.insert(document.lines.begin() + static_cast<std::ptrdiff_t>(insertAt),
                              Line{keyName + "=" + value, lineEnd});
      }
    } else {
      if (!document.lines.empty()) {
        if (document.lines.back().end.empty()) document.lines.back().end = lineEnd;
        if (!Trim(document.lines.back().text).empty()) document.lines.push_back({"", lineEnd});
      }
      document.lines.push_back({"[" + sectionName + "]", lineEnd});
      document.lines.push_back({keyName + "=" + value, lineEnd});
    }
    return ReplaceFile(target, Serialise(document));
  } catch (const std::bad_alloc&) {
    return false;
  }
}

std::int32_t ParseProfileInt(const std::string& text) {
  std::size_t i = 0;
  while (i < text.size() && static_cast<unsigned char>(text[i]) <= ' ') ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  std::uint32_t base = 10;
  if (i + 1 < text.size() && text[i] == '0') {
    const char prefix = text[i + 1];
    if (prefix == 'x') base = 16;
    if (prefix == 'o') base = 8;
    if (prefix == 'b') base = 2;
    if (base != 10) i += 2;
  }
  std::uint32_t total = 0;
  for (; i < text.size(); ++i) {
    const char c = text[i];
    std::uint32_t digit = 36;
    if (c >= '0' && c <= '9') digit = static_cast<std::uint32_t>(c - '0');
    if (c >= 'A' && c <= 'Z') digit = static_cast<std::uint32_t>(c - 'A' + 10);
    if (c >= 'a' && c <= 'z') digit = static_cast<std::uint32_t>(c - 'a' + 10);
    if (digit >= base) break;
    total = total * base + digit;
  }
  if (negative) total = 0u - total;
  return static_cast<std::int32_t>(total);
}

}  // namespace platform
