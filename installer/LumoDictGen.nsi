; The Windows installer of LumoDictGen. scripts/release.sh builds it with makensis from a
; folder of staged files:
;
;   makensis -DVERSION=1.0.0 -DVERSION_QUAD=1.0.0.0 -DCOPYRIGHT="Copyright (c) ..." \
;            -DSTAGE=DIR -DOUTFILE=setup.exe LumoDictGen.nsi
;
; STAGE holds LumoDictGen.exe, ldic.exe, 使用说明.html (the user guide), LICENSE.txt and
; fruit.txt; COPYRIGHT
; is the version resource's copyright (LUMO_LEGAL_COPYRIGHT of the build tree's
; release.env). A page shows the licence before anything is installed. The installer
; installs the files per machine (Program Files) or per user (the user's local programs
; folder), as the user chooses; /AllUsers and /CurrentUser choose on the command line, /S
; installs silently. An installation that exists already is upgraded where it is, under
; the same "Apps & features" entry.
;
; Exit status: 0 installed; 1 cancelled by the user; 2 stopped, because LumoDictGen.exe was
; running or the per-machine installation needs rights the user lacks.

Unicode true
; 64-bit installer: the programs are 64-bit, and a 64-bit installer writes to the native
; registry view and Program Files without redirection.
Target amd64-unicode
SetCompressor /SOLID lzma
ManifestDPIAware true

!ifndef VERSION | VERSION_QUAD | COPYRIGHT | STAGE | OUTFILE
  !error "define VERSION, VERSION_QUAD, COPYRIGHT, STAGE and OUTFILE (see scripts/release.sh)"
!endif

!define PRODUCT_NAME "Lumo词典格式转换助手"
!define PUBLISHER "LumoDictGen"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\LumoDictGen"
; The mutex LumoDictGen.exe holds while it runs (kRunningMutexName in app/lumo_app.h).
!define RUNNING_MUTEX "LumoDictGen.Running"
!define SHORTCUT_NAME "${PRODUCT_NAME}.lnk"
!define GUIDE_FILE "使用说明.html"
; Named after the program too: the Start menu lists it among every other program's.
!define GUIDE_SHORTCUT_NAME "${PRODUCT_NAME} 使用说明.lnk"

Name "${PRODUCT_NAME} ${VERSION}"
OutFile "${OUTFILE}"
BrandingText "LumoDictGen ${VERSION}"

!define MULTIUSER_EXECUTIONLEVEL Highest
!define MULTIUSER_MUI
!define MULTIUSER_INSTALLMODE_COMMANDLINE
!define MULTIUSER_USE_PROGRAMFILES64
!define MULTIUSER_INSTALLMODE_INSTDIR "LumoDictGen"
; An earlier installation's folder and mode are found through its uninstaller's entry.
!define MULTIUSER_INSTALLMODE_INSTDIR_REGISTRY_KEY "${UNINSTALL_KEY}"
!define MULTIUSER_INSTALLMODE_INSTDIR_REGISTRY_VALUENAME "InstallLocation"
!define MULTIUSER_INSTALLMODE_DEFAULT_REGISTRY_KEY "${UNINSTALL_KEY}"
!define MULTIUSER_INSTALLMODE_DEFAULT_REGISTRY_VALUENAME "InstallLocation"
!define MULTIUSER_INIT_TEXT_ADMINREQUIRED "安装或卸载 ${PRODUCT_NAME} 需要管理员权限。"
!define MULTIUSER_INIT_TEXT_POWERREQUIRED "安装或卸载 ${PRODUCT_NAME} 需要管理员权限。"
!define MULTIUSER_INIT_TEXT_ALLUSERSNOTPOSSIBLE "你的账户没有为本机所有用户安装 ${PRODUCT_NAME} 的权限，请选择只为自己安装。"
!define MULTIUSER_PAGE_CUSTOMFUNCTION_PRE SkipOnUpgrade
; When the rights are missing, MultiUser stops through these, with status 2.
!define MULTIUSER_INIT_FUNCTIONQUIT QuitStopped
!define MULTIUSER_INIT_un.FUNCTIONQUIT un.QuitStopped
!include MultiUser.nsh
!include MUI2.nsh
!include LogicLib.nsh
!include FileFunc.nsh

!define MUI_ICON "../app/LumoDictGen.ico"
!define MUI_UNICON "../app/LumoDictGen.ico"
!define MUI_ABORTWARNING
!define MUI_COMPONENTSPAGE_NODESC

; Our own welcome: what the program does and what is installed. The stock title names the
; product and its version in quotes and wraps; this one fits on one line.
!define MUI_WELCOMEPAGE_TITLE "欢迎安装 ${PRODUCT_NAME}"
!define MUI_WELCOMEPAGE_TEXT "本向导将在您的电脑上安装 ${PRODUCT_NAME} ${VERSION}。$\r$\n$\r$\n\
${PRODUCT_NAME}把词条文件（.txt、.csv）、StarDict 或 MDict 词典转换成 Lumo词典可以加载的 .ldic 词库，\
并可将词库直接添加到 Lumo词典中。$\r$\n$\r$\n\
将安装转换程序 LumoDictGen.exe、命令行工具 ldic.exe、使用说明、许可证 LICENSE.txt \
和示例词条文件 fruit.txt，以及开始菜单中的快捷方式。$\r$\n$\r$\n\
点击“下一步”继续。"
!insertmacro MUI_PAGE_WELCOME
!define MUI_LICENSEPAGE_TEXT_TOP "${PRODUCT_NAME}按 MIT 许可证发布："
; Broken into two lines here: left to the control, the line broke inside “我接受” at 144 DPI.
!define MUI_LICENSEPAGE_TEXT_BOTTOM "您可以自由使用、复制、修改和分发本程序，但须保留上面的版权和许可声明。$\r$\n点击“我接受”继续安装。"
!insertmacro MUI_PAGE_LICENSE "${STAGE}/LICENSE.txt"
!insertmacro MULTIUSER_PAGE_INSTALLMODE
!define MUI_PAGE_CUSTOMFUNCTION_PRE SkipOnUpgrade
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_COMPONENTS
!insertmacro MUI_PAGE_INSTFILES
; The stock title adds the version and "安装程序结束" and barely fits at 144 DPI.
!define MUI_FINISHPAGE_TITLE "${PRODUCT_NAME} 安装完成"
!define MUI_FINISHPAGE_RUN "$INSTDIR\LumoDictGen.exe"
!define MUI_FINISHPAGE_RUN_TEXT "运行 ${PRODUCT_NAME}"
!insertmacro MUI_PAGE_FINISH

!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES

!insertmacro MUI_LANGUAGE "SimpChinese"

VIProductVersion "${VERSION_QUAD}"
VIFileVersion "${VERSION_QUAD}"
VIAddVersionKey /LANG=${LANG_SIMPCHINESE} "ProductName" "${PRODUCT_NAME}"
VIAddVersionKey /LANG=${LANG_SIMPCHINESE} "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_SIMPCHINESE} "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_SIMPCHINESE} "FileDescription" "${PRODUCT_NAME} 安装程序"
VIAddVersionKey /LANG=${LANG_SIMPCHINESE} "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=${LANG_SIMPCHINESE} "LegalCopyright" "${COPYRIGHT}"

!macro DEFINE_QUIT_STOPPED PREFIX
Function ${PREFIX}QuitStopped
  SetErrorLevel 2
  Quit
FunctionEnd
!macroend
!insertmacro DEFINE_QUIT_STOPPED ""
!insertmacro DEFINE_QUIT_STOPPED "un."

; The folder of an installation being upgraded, or empty for a new one.
Var Existing

; Waits until LumoDictGen.exe no longer runs, asking the user to close it. In silent mode,
; or when the user gives up, the installer (or uninstaller) stops with status 2 before it
; has changed anything.
!macro DEFINE_CHECK_NOT_RUNNING PREFIX ACTION
Function ${PREFIX}CheckNotRunning
  retry:
    ; SYNCHRONIZE (0x00100000) is all it takes to open it. A mutex of another user's
    ; session answers "access denied" (5): the program runs there.
    System::Call 'kernel32::OpenMutexW(i 0x00100000, i 0, w "${RUNNING_MUTEX}") p.r0 ?e'
    Pop $1
    ${If} $0 P<> 0
      System::Call 'kernel32::CloseHandle(p r0)'
    ${ElseIf} $1 <> 5
      Return
    ${EndIf}
    MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION \
      "${PRODUCT_NAME} 正在运行。$\r$\n$\r$\n请先关闭它，然后点击“重试”继续${ACTION}；点击“取消”退出${ACTION}程序。" \
      /SD IDCANCEL IDRETRY retry
    Call ${PREFIX}QuitStopped
FunctionEnd
!macroend
!insertmacro DEFINE_CHECK_NOT_RUNNING "" "安装"
!insertmacro DEFINE_CHECK_NOT_RUNNING "un." "卸载"

Function .onInit
  !insertmacro MULTIUSER_INIT
  ; One installation only: an existing one, per machine or per user, is upgraded in its
  ; own mode and folder, whatever the default or the command line asked for, so that
  ; "Apps & features" never lists the program twice.
  ReadRegStr $0 HKLM "${UNINSTALL_KEY}" "InstallLocation"
  ReadRegStr $1 HKCU "${UNINSTALL_KEY}" "InstallLocation"
  ${If} $MultiUser.InstallMode == "AllUsers"
  ${AndIf} $0 == ""
  ${AndIf} $1 != ""
    Call MultiUser.InstallMode.CurrentUser
  ${ElseIf} $MultiUser.InstallMode == "CurrentUser"
  ${AndIf} $1 == ""
  ${AndIf} $0 != ""
    ${If} $MultiUser.Privileges == "Admin"
    ${OrIf} $MultiUser.Privileges == "Power"
      Call MultiUser.InstallMode.AllUsers
    ${Else}
      MessageBox MB_OK|MB_ICONEXCLAMATION \
        "${PRODUCT_NAME} 已为本机所有用户安装在 $0。$\r$\n升级它需要管理员权限，请以管理员身份运行安装程序。" /SD IDOK
      Call QuitStopped
    ${EndIf}
  ${EndIf}
  ${If} $MultiUser.InstallMode == "AllUsers"
    StrCpy $Existing $0
  ${Else}
    StrCpy $Existing $1
  ${EndIf}
  Call CheckNotRunning
FunctionEnd

; An upgrade keeps the installation's mode and folder: their pages are skipped.
Function SkipOnUpgrade
  ${If} $Existing != ""
    Abort
  ${EndIf}
FunctionEnd

Section "!${PRODUCT_NAME}" SecMain
  SectionIn RO
  ; The program may have been started since the installer was.
  Call CheckNotRunning
  SetOutPath "$INSTDIR"
  File "${STAGE}/LumoDictGen.exe"
  File "${STAGE}/ldic.exe"
  File "${STAGE}/${GUIDE_FILE}"
  File "${STAGE}/LICENSE.txt"
  File "${STAGE}/fruit.txt"
  WriteUninstaller "$INSTDIR\uninstall.exe"
  ; Versions before the guide shipped the developers' README in its place.
  Delete "$INSTDIR\README.txt"

  CreateShortcut "$SMPROGRAMS\${SHORTCUT_NAME}" "$INSTDIR\LumoDictGen.exe"
  CreateShortcut "$SMPROGRAMS\${GUIDE_SHORTCUT_NAME}" "$INSTDIR\${GUIDE_FILE}"
  ; An upgrade asks again for the desktop shortcut: the section below makes it anew.
  Delete "$DESKTOP\${SHORTCUT_NAME}"

  ; SHCTX is HKLM per machine and HKCU per user (MultiUser sets the shell context).
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT_NAME}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\LumoDictGen.exe,0"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "UninstallString" \
    '"$INSTDIR\uninstall.exe" /$MultiUser.InstallMode'
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "QuietUninstallString" \
    '"$INSTDIR\uninstall.exe" /$MultiUser.InstallMode /S'
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  IntFmt $0 "0x%08X" $0
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "EstimatedSize" "$0"
SectionEnd

Section "桌面快捷方式" SecDesktop
  CreateShortcut "$DESKTOP\${SHORTCUT_NAME}" "$INSTDIR\LumoDictGen.exe"
SectionEnd

Function un.onInit
  !insertmacro MULTIUSER_UNINIT
  Call un.CheckNotRunning
FunctionEnd

; Removes exactly what the installer wrote, and the settings the program keeps for the user
; who uninstalls. The folder itself goes only when it is empty, and nothing of the user's
; (packages, LumoDict's settings) is ever touched.
Section "Uninstall"
  Call un.CheckNotRunning
  Delete "$INSTDIR\LumoDictGen.exe"
  Delete "$INSTDIR\ldic.exe"
  Delete "$INSTDIR\${GUIDE_FILE}"
  Delete "$INSTDIR\LICENSE.txt"
  Delete "$INSTDIR\fruit.txt"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  Delete "$SMPROGRAMS\${SHORTCUT_NAME}"
  Delete "$SMPROGRAMS\${GUIDE_SHORTCUT_NAME}"
  Delete "$DESKTOP\${SHORTCUT_NAME}"
  ; The dialog's remembered author, number, version and folder.
  DeleteRegKey HKCU "Software\LumoDictGen"
  DeleteRegKey SHCTX "${UNINSTALL_KEY}"
SectionEnd
