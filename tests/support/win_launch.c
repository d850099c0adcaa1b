/* Starts a Windows program the way the web application's CGI program does, for the tests:
 *   win_launch.exe PROGRAM.exe COMMAND-LINE
 * CreateProcessA gets PROGRAM as the application name and COMMAND-LINE, verbatim, as the
 * command line, so the started program's argv[0] is the command line's first token (the
 * file-name word "filename_arg=...") and not its own name. The launcher waits for the program
 * and exits with its exit code; it exits with 126, saying why on standard error, when the
 * program cannot be started, and with 2 on a wrong call.
 *
 * The child inherits the standard handles, the environment and the working directory. */
#define WIN32_LEAN_AND_MEAN
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

static void PrintSystemError(const char* what, DWORD code) {
  char text[512];
  DWORD size = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, NULL,
                              code, 0, text, sizeof text, NULL);
  while (size > 0 && (text[size - 1] == '\r' || text[size - 1] == '\n' || text[size - 1] == ' ' ||
                      text[size - 1] == '.')) {
    --size;
  }
  text[size] = '\0';
  fprintf(stderr, "win_launch: %s: %s (error %lu)\n", what, size > 0 ? text : "unknown error",
          (unsigned long)code);
}

/* The standard handles go to the child as its own: they must be inheritable for that. A handle
 * that is missing (a closed stream) stays missing. */
static HANDLE Inheritable(DWORD which) {
  HANDLE handle = GetStdHandle(which);
  if (handle != NULL && handle != INVALID_HANDLE_VALUE) {
    SetHandleInformation(handle, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
  }
  return handle;
}

int main(int argc, char** argv) {
  if (argc != 3) {
    fputs("usage: win_launch PROGRAM.exe COMMAND-LINE\n", stderr);
    return 2;
  }
  const char* program = argv[1];
  /* CreateProcess may write into the command line's buffer, so it gets a copy. */
  size_t length = strlen(argv[2]);
  char* command_line = malloc(length + 1);
  if (command_line == NULL) {
    fputs("win_launch: out of memory\n", stderr);
    return 126;
  }
  memcpy(command_line, argv[2], length + 1);

  STARTUPINFOA startup;
  memset(&startup, 0, sizeof startup);
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = Inheritable(STD_INPUT_HANDLE);
  startup.hStdOutput = Inheritable(STD_OUTPUT_HANDLE);
  startup.hStdError = Inheritable(STD_ERROR_HANDLE);
  PROCESS_INFORMATION process;
  memset(&process, 0, sizeof process);
  /* Nothing was written to the launcher's own streams yet; flushing keeps it that way when the
   * child writes to the same ones. */
  fflush(NULL);
  if (!CreateProcessA(program, command_line, NULL, NULL, TRUE, 0, NULL, NULL, &startup, &process)) {
    DWORD code = GetLastError();
    char what[600];
    snprintf(what, sizeof what, "cannot start %s", program);
    PrintSystemError(what, code);
    free(command_line);
    return 126;
  }
  free(command_line);
  CloseHandle(process.hThread);

  DWORD exit_code = 126;
  if (WaitForSingleObject(process.hProcess, INFINITE) != WAIT_OBJECT_0) {
    PrintSystemError("cannot wait for the program", GetLastError());
  } else if (!GetExitCodeProcess(process.hProcess, &exit_code)) {
    PrintSystemError("cannot read the program's exit code", GetLastError());
    exit_code = 126;
  }
  CloseHandle(process.hProcess);
  return (int)exit_code;
}
