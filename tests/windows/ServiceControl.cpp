// A small service control program for the Windows checks under Wine: what Wine's "sc"
// and "net" do not offer (the full status record, pause, continue and interrogate, every
// status seen while a request is pending). Not part of the distribution.
//
//   ZirvoServiceControl config NAME
//   ZirvoServiceControl status NAME
//   ZirvoServiceControl start NAME SECONDS
//   ZirvoServiceControl control NAME CODE SECONDS   (1 stop, 2 pause, 3 continue, 4 interrogate)
//   ZirvoServiceControl account NAME ACCOUNT         (the services console's "Log On" tab)
//   ZirvoServiceControl hold SECONDS                 (keeps a Wine session alive)
//   ZirvoServiceControl load FILE                    (LoadLibraryA: the default search order)
//   ZirvoServiceControl acl PATH                     (owner and access list, as SDDL)
//   ZirvoServiceControl trust-root FILE.der          (adds it to the machine's ROOT store)
//
// config prints its texts in UTF-8.
// Each status is printed as one line "state=S controls=C checkpoint=P waithint=W exit=E";
// start and control print every distinct status until the service leaves the pending
// states (or the seconds run out, exit code 3). A refused call prints "error=N" and
// exits with 2.
#include <windows.h>
// windows.h first: aclapi.h and sddl.h need its types.
#include <aclapi.h>
#include <sddl.h>
#include <shellapi.h>
// After windows.h, which it needs.
#include <wincrypt.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct Handle {
  SC_HANDLE value = nullptr;
  ~Handle() {
    if (value != nullptr) CloseServiceHandle(value);
  }
};

int Fail(const char* call) {
  std::printf("error=%lu (%s)\n", GetLastError(), call);
  return 2;
}

std::string Line(const SERVICE_STATUS& s) {
  char text[160];
  std::snprintf(text, sizeof text, "state=%lu controls=%lu checkpoint=%lu waithint=%lu exit=%lu",
                s.dwCurrentState, s.dwControlsAccepted, s.dwCheckPoint, s.dwWaitHint,
                s.dwWin32ExitCode);
  return text;
}

bool Query(SC_HANDLE service, SERVICE_STATUS& status) {
  SERVICE_STATUS_PROCESS process{};
  DWORD needed = 0;
  if (!QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&process),
                            sizeof process, &needed)) {
    return false;
  }
  std::memcpy(&status, &process, sizeof status);
  return true;
}

bool Pending(DWORD state) {
  return state == SERVICE_START_PENDING || state == SERVICE_STOP_PENDING ||
         state == SERVICE_CONTINUE_PENDING || state == SERVICE_PAUSE_PENDING;
}

// Prints every distinct status until a settled one (after at least one status has been
// seen other than `from`, so a request still unseen by the service is waited for).
int Follow(SC_HANDLE service, DWORD from, double seconds) {
  const ULONGLONG end = GetTickCount64() + static_cast<ULONGLONG>(seconds * 1000);
  std::string last;
  bool moved = false;
  while (GetTickCount64() < end) {
    SERVICE_STATUS status{};
    if (!Query(service, status)) return Fail("QueryServiceStatusEx");
    const std::string line = Line(status);
    if (line != last) {
      std::printf("%s\n", line.c_str());
      std::fflush(stdout);
      last = line;
    }
    if (status.dwCurrentState != from) moved = true;
    if (moved && !Pending(status.dwCurrentState)) return 0;
    Sleep(1);
  }
  std::printf("timeout\n");
  return 3;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s config|status|start|control NAME [CODE] [SECONDS]\n", argv[0]);
    return 64;
  }
  const std::string command = argv[1];
  if (command == "hold") {
    Sleep(static_cast<DWORD>(std::atof(argv[2]) * 1000));
    return 0;
  }
  if (command == "acl") {
    // The path as typed, which the ANSI arguments may not hold.
    int count = 0;
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
    const wchar_t* path = wide[2];
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    const DWORD error = GetNamedSecurityInfoW(
        path, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, nullptr,
        nullptr, nullptr, nullptr, &descriptor);
    wchar_t* text = nullptr;
    if (error != ERROR_SUCCESS ||
        !ConvertSecurityDescriptorToStringSecurityDescriptorW(
            descriptor, SDDL_REVISION_1, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
            &text, nullptr)) {
      std::printf("error=%lu\n", error != ERROR_SUCCESS ? error : GetLastError());
      return 2;
    }
    std::printf("%ls\n", text);
    return 0;
  }
  if (command == "load") {
    std::printf(LoadLibraryA(argv[2]) != nullptr ? "loaded\n" : "error=%lu\n", GetLastError());
    return 0;
  }
  if (command == "trust-root") {
    std::vector<BYTE> der;
    if (FILE* file = std::fopen(argv[2], "rb")) {
      for (int c; (c = std::fgetc(file)) != EOF;) der.push_back(static_cast<BYTE>(c));
      std::fclose(file);
    }
    HCERTSTORE roots =
        CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, L"ROOT");
    if (roots == nullptr) return Fail("CertOpenStore");
    const BOOL added = CertAddEncodedCertificateToStore(roots, X509_ASN_ENCODING, der.data(),
                                                        static_cast<DWORD>(der.size()),
                                                        CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
    CertCloseStore(roots, 0);
    return added ? 0 : Fail("CertAddEncodedCertificateToStore");
  }
  Handle manager{OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS)};
  if (manager.value == nullptr) return Fail("OpenSCManagerA");
  Handle service{OpenServiceA(manager.value, argv[2], SERVICE_ALL_ACCESS)};
  if (service.value == nullptr) return Fail("OpenServiceA");

  if (command == "config") {
    std::vector<BYTE> buffer(8192);
    DWORD needed = 0;
    auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data());
    if (!QueryServiceConfigW(service.value, config, static_cast<DWORD>(buffer.size()), &needed)) {
      return Fail("QueryServiceConfigW");
    }
    const auto utf8 = [](const wchar_t* text) {
      if (text == nullptr) return std::string();
      char out[4096] = {};
      WideCharToMultiByte(CP_UTF8, 0, text, -1, out, sizeof out, nullptr, nullptr);
      return std::string(out);
    };
    std::printf("type=%lu\nstart=%lu\nerror=%lu\npath=%s\naccount=%s\ndisplay=%s\n",
                config->dwServiceType, config->dwStartType, config->dwErrorControl,
                utf8(config->lpBinaryPathName).c_str(), utf8(config->lpServiceStartName).c_str(),
                utf8(config->lpDisplayName).c_str());
    return 0;
  }
  if (command == "status") {
    SERVICE_STATUS status{};
    if (!Query(service.value, status)) return Fail("QueryServiceStatusEx");
    std::printf("%s\n", Line(status).c_str());
    return 0;
  }
  if (command == "start" && argc >= 4) {
    if (!StartServiceA(service.value, 0, nullptr)) return Fail("StartServiceA");
    return Follow(service.value, SERVICE_STOPPED, std::atof(argv[3]));
  }
  if (command == "control" && argc >= 5) {
    const DWORD code = static_cast<DWORD>(std::atoi(argv[3]));
    SERVICE_STATUS before{};
    if (!Query(service.value, before)) return Fail("QueryServiceStatusEx");
    SERVICE_STATUS reply{};
    if (!ControlService(service.value, code, &reply)) return Fail("ControlService");
    std::printf("reply %s\n", Line(reply).c_str());
    std::fflush(stdout);
    if (code == SERVICE_CONTROL_INTERROGATE) return 0;
    return Follow(service.value, before.dwCurrentState, std::atof(argv[4]));
  }
  if (command == "account" && argc >= 4) {
    if (!ChangeServiceConfigA(service.value, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE,
                              SERVICE_NO_CHANGE, nullptr, nullptr, nullptr, nullptr, argv[3], "",
                              nullptr)) {
      return Fail("ChangeServiceConfigA");
    }
    return 0;
  }
  std::fprintf(stderr, "commande inconnue : %s\n", command.c_str());
  return 64;
}
