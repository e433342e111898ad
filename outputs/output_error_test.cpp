#include "outputs/output_error.h"

#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

namespace outputs {
namespace {

// What bash makes of `text` as one word: printf's output of it.
std::string read_back_by_bash(const std::string& text) {
  int out[2];
  if (::pipe(out) != 0) return "(no pipe)";
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  posix_spawn_file_actions_addclose(&actions, out[0]);
  std::string script = "printf %s " + text;
  std::string bash = "bash", dash_c = "-c";
  char* argv[] = {bash.data(), dash_c.data(), script.data(), nullptr};
  pid_t pid = -1;
  const int started = ::posix_spawnp(&pid, "bash", &actions, nullptr, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(out[1]);
  std::string result;
  char chunk[256];
  for (ssize_t n; (n = ::read(out[0], chunk, sizeof chunk)) > 0;) result.append(chunk, static_cast<std::size_t>(n));
  ::close(out[0]);
  if (started != 0) return "(no bash)";
  ::waitpid(pid, nullptr, 0);
  return result;
}

// Names as messages show them: what a terminal would act on is escaped,
// and the text reads back in a shell as the same name.
TEST(QuotedNames, AreSafeOnATerminalAndReadBackAsTheSameName) {
  struct Case {
    std::string name, always, if_needed;
  };
  const std::vector<Case> cases = {
      {"a.png", "'a.png'", "a.png"},
      {"dir/frame_0001.png", "'dir/frame_0001.png'", "dir/frame_0001.png"},
      {"", "''", "''"},
      {"two words.png", "'two words.png'", "'two words.png'"},
      {"caf\xc3\xa9.png", "'caf\xc3\xa9.png'", "caf\xc3\xa9.png"},
      {"it's.png", "\"it's.png\"", "\"it's.png\""},
      {"it's $HOME", "'it'\\''s $HOME'", "'it'\\''s $HOME'"},
      {"a\nb", "'a'$'\\n''b'", "'a'$'\\n''b'"},
      {"\x1b[2J", "$'\\033''[2J'", "$'\\033''[2J'"},
      {"\x1b]0;title\x07.png", "$'\\033'']0;title'$'\\a''.png'", "$'\\033'']0;title'$'\\a''.png'"},
      {"x\xffy", "'x'$'\\377''y'", "'x'$'\\377''y'"},
      // A C1 control in UTF-8, a cut-off sequence, an overlong '/', a
      // surrogate, DEL and a tab at the end.
      {"a\xc2\x9b" "b", "'a'$'\\302\\233''b'", "'a'$'\\302\\233''b'"},
      {"a\xe2\x82", "'a'$'\\342\\202'", "'a'$'\\342\\202'"},
      {"\xc0\xaf", "$'\\300\\257'", "$'\\300\\257'"},
      {"\xed\xa0\x80", "$'\\355\\240\\200'", "$'\\355\\240\\200'"},
      {"a\x7f\t", "'a'$'\\177\\t'", "'a'$'\\177\\t'"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(in_quotes(c.name), c.always) << c.always;
    EXPECT_EQ(quoted_if_needed(c.name), c.if_needed) << c.if_needed;
    EXPECT_EQ(read_back_by_bash(c.always), c.name) << c.always;
  }
}

// A whole message keeps its text and quoted names, and loses only what a
// terminal would act on.
TEST(QuotedNames, MessagesAreMadeSafeWhole) {
  EXPECT_EQ(terminal_safe("cannot write 'a'$'\\n''b': No space"), "cannot write 'a'$'\\n''b': No space");
  EXPECT_EQ(terminal_safe("unexpected: \x1b[2Jx\xff\xc3\xa9\n"), "unexpected: \\033[2Jx\\377\xc3\xa9\\n");
}

}  // namespace
}  // namespace outputs
