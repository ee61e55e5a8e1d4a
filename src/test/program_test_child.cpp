// The child that program_test starts: "program_test_child STATUS ARGS..."
// writes child.txt into its working directory, prints each argument in
// brackets on a line of its own and the value of HALVORN_CHILD_VALUE, and
// exits with STATUS. "program_test_child wait" waits until it is killed.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  if (std::string(argv[1]) == "wait") {
    std::printf("waiting\n");
    std::fflush(stdout);
    std::this_thread::sleep_for(std::chrono::seconds(60));
    return 3;
  }
  if (FILE* mark = std::fopen("child.txt", "w")) std::fclose(mark);
  for (int i = 2; i < argc; ++i) std::printf("[%s]\n", argv[i]);
  const char* value = std::getenv("HALVORN_CHILD_VALUE");
  std::printf("env=%s", value ? value : "<unset>");
  return std::atoi(argv[1]);
}
