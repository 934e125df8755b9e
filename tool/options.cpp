#include "tool/options.h"

#include "ismgr/runtime/char_class.h"

namespace ismgr::tool {

CommandLine scan_command_line(int argc, const char* const* argv, Sink& notices) {
  CommandLine result;
  if (argc < 2 || argv == nullptr) {
    result.usage = true;
    return result;
  }
  int i = 1;
  for (; i < argc; ++i) {
    const char* arg = argv[i];
    if (arg == nullptr) continue;
    if (arg[0] != '-') break;
    for (const char* p = arg + 1; *p != '\0'; ++p) {
      switch (to_lower(static_cast<unsigned char>(*p))) {
        case 'b':
          result.options.bare = true;
          break;
        case 'c':
          if (to_lower(static_cast<unsigned char>(p[1])) == 't') {
            result.options.change_tracking_key = true;
            ++p;
          }
          break;
        case 'g':
          result.options.generate = true;
          break;
        case 't':
          if (p[1] != '\0') {
            result.options.temp_key = true;
            result.options.temp_name = p + 1;
            p += std::char_traits<char>::length(p) - 1;  // the rest is the name
          } else {
            static const char kInvalidT[] = "Invalid use of option T\n";
            notices.write(kInvalidT, sizeof kInvalidT - 1);
          }
          break;
        case 'x':
          result.options.xdl = true;
          break;
        default:
          result.usage = true;
          return result;
      }
    }
  }
  for (; i < argc; ++i) {
    if (argv[i] != nullptr) result.files.emplace_back(argv[i]);
  }
  if (result.files.empty()) result.usage = true;
  return result;
}

std::string usage_text(const char* program) {
  return format_text("usage: %s [-bgx] isam_files\n", program ? program : "qdesc");
}

std::string output_file_name(const std::string& name, bool xdl) {
  bool upper = !name.empty() && (char_class(static_cast<unsigned char>(name[0])) & kCcUpper) != 0;
  const char* extension = xdl ? (upper ? ".XDL" : ".xdl") : (upper ? ".PAR" : ".par");
  size_t component = name.find_last_of("/\\");
  component = component == std::string::npos ? 0 : component + 1;
  size_t dot = name.rfind('.');
  std::string result = name;
  if (dot != std::string::npos && dot >= component) result.resize(dot);
  return result + extension;
}

}  // namespace ismgr::tool
