#include "app/startup.h"

#include "app/error_class.h"
#include "config/channel_list.h"
#include "config/simple_ini.h"
#include "config/simple_log.h"
#include "security/secret_ini.h"

HINSTANCE g_Instance = nullptr;
Ini* g_Ini = nullptr;
CSimpleLog* g_Log = nullptr;
GlobalBufferInformation* g_Channels = nullptr;
SecretIni* g_SecretIni = nullptr;

const char kGuardMutexName[] = "Global\\Korvo - Guard Program, Started indicator for application Korvo";

namespace {

const char kIniFileName[] = "korvo.ini";
const char kDefaultLogName[] = "Vastel.log";
const char kSecurityFileName[] = "SecurInf.cfg";

// False (after the refusal box) when the recorder, or another Vastel, runs.
// The handle is never closed: the name stays taken while Vastel runs.
bool TakeGuard() {
  HANDLE guard = CreateMutexA(nullptr, FALSE, kGuardMutexName);
  if (guard == nullptr || GetLastError() == ERROR_ALREADY_EXISTS) {
    MessageBoxA(nullptr,
                "Перед запуском данной утилиты закройте приложение Velmora, которое в этот момент выполняется на "
                "компьютере.",
                "Внимание", MB_TASKMODAL | MB_ICONWARNING);
    return false;
  }
  return true;
}

void ShowStartFromProgramDirectory() {
  MessageBoxA(nullptr, "Для успешного выполнения операции запустите данную утилиту из каталога программы Velmora",
              "Внимание !", MB_ICONINFORMATION);
}

// The recorder's INI file and the event log.
void OpenConfiguration() {
  g_Ini = new Ini(kIniFileName);
  if (g_Ini->GetInt("Channels") == 0) throw ErrorClass("Ошибка открытия файла инициализации korvo.ini", 1300);
  char logPath[260];
  if (g_Ini->GetString("MainLogFile", logPath, sizeof logPath) > 0) {
    g_Log = new CSimpleLog(logPath);
  } else {
    g_Log = new CSimpleLog(kDefaultLogName);
  }
  g_Log->Write("Попытка запуска утилиты очистки БД Vastel.exe");
}

// The objects of the run, the password gate and the purge dialog.
void RunMainBlock() {
  // The channel list comes first, then the security object.
  g_Channels = new GlobalBufferInformation(g_Ini);
  // Reads the security file or its backup; throws 600 or 601.
  g_SecretIni = new SecretIni(kSecurityFileName);
  g_Log->Write("Утилита для очистки БД Vastel.exe запущена успешно");
  delete g_SecretIni;
  g_SecretIni = nullptr;
  delete g_Channels;
  g_Channels = nullptr;
  delete g_Ini;
  g_Ini = nullptr;
}

}  // namespace

int VastelMain(HINSTANCE instance) {
  g_Instance = instance;
  InitCommonControls();
  if (!TakeGuard()) return 0;

  try {
    OpenConfiguration();
  } catch (ErrorClass& error) {
    // The log may not exist yet: nothing is logged, and what was created is
    // left to the end of the process.
    error.Show();
    ShowStartFromProgramDirectory();
    return 0;
  }

  try {
    RunMainBlock();
  } catch (ErrorClass& error) {
    error.Show();
    error.Log(g_Log);
    ShowStartFromProgramDirectory();
  }

  g_Log->Write("Утилита для очистки БД Vastel.exe завершает работу");
  delete g_Log;
  g_Log = nullptr;
  return 0;
}
