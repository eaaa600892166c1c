; Plimsy's installer for Windows x64: a per-user install that needs no
; administrator. `make windows` builds it (cmake/make-installer.cmake) from
; the folder the portable zip is made of, into dist/plimsy-<version>-setup.exe.
;
;   makensis -DPLIMSY_CONFIG=<config.nsh> installer/plimsy.nsi
;
; The installer copies the staged files to %LOCALAPPDATA%\Programs\Plimsy,
; adds a Start-menu shortcut and registers its uninstaller for the current
; user; when the window (plimsy.exe) is among the files, it also offers
; Plimsy in "Open with" for .epub files. The uninstaller removes exactly
; these: the files by name (never the folder's other contents), the shortcut
; and the registry keys. Both run silently with /S.
;
; Neither replaces nor removes a running Plimsy: both look for the window's
; single-instance mutex first and ask for Plimsy to be closed (Retry, Cancel);
; run silently, they stop with exit code 2 and leave every file as it was.
; (A silent Uninstall.exe hands its work to a copy of itself and ends with 0
; at once; Uninstall.exe /S _?=<folder> runs in place and ends with the
; copy's code.) A file that cannot be written stops the installation too,
; rather than leaving the old one.

Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma
ManifestDPIAware true

!ifndef PLIMSY_CONFIG
  !error "Give the generated configuration: makensis -DPLIMSY_CONFIG=<config.nsh> (make windows does)"
!endif
!include "${PLIMSY_CONFIG}"
; PLIMSY_INSTALL_FILES and PLIMSY_UNINSTALL_FILES: the staged files by name.
!include "${PLIMSY_FILES}"
!include "MUI2.nsh"

; Cancel, or /S, while Plimsy runs: nothing changes, and the exit code is 2.
!define EXIT_PLIMSY_RUNNING 2
; OpenMutexW's SYNCHRONIZE access, and GetLastError's ERROR_ACCESS_DENIED
; (the mutex exists, but belongs to another user's Plimsy: it runs too).
!define SYNCHRONIZE 0x00100000
!define ERROR_ACCESS_DENIED 5

; ${un}closeRunningPlimsy: returns once no Plimsy runs; while one does, asks
; for it to be closed, and quits when the answer is Cancel (silently: at once).
!macro PLIMSY_CLOSE_RUNNING un what
Function ${un}closeRunningPlimsy
  Push $0
  Push $1
  look:
  System::Call 'kernel32::OpenMutexW(i ${SYNCHRONIZE}, i 0, w "${PLIMSY_INSTANCE_MUTEX}") p.r0 ?e'
  Pop $1
  StrCmp $0 0 0 running
  StrCmp $1 ${ERROR_ACCESS_DENIED} running none
  running:
  System::Call 'kernel32::CloseHandle(p r0)'
  MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION \
    "Plimsy is running. Close it, then choose Retry to go on with ${what}, or Cancel to stop." \
    /SD IDCANCEL IDRETRY look
  SetErrorLevel ${EXIT_PLIMSY_RUNNING}
  Quit
  none:
  Pop $1
  Pop $0
FunctionEnd
!macroend
!insertmacro PLIMSY_CLOSE_RUNNING "" "the installation"
!insertmacro PLIMSY_CLOSE_RUNNING "un." "the removal"

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Plimsy"
!define PROGID "Tarnwick.Plimsy.epub"
!define PUBLISHER "Tarnwick"
!define SHORTCUT_WINDOW "$SMPROGRAMS\Plimsy.lnk"
!define SHORTCUT_GUIDE "$SMPROGRAMS\Plimsy User Guide.lnk"
; SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_IDLIST): Explorer rereads the file types.
!define NOTIFY_ASSOCIATIONS "shell32::SHChangeNotify(i 0x08000000, i 0, p 0, p 0)"

!if /FileExists "${PLIMSY_STAGE}/plimsy.exe"
  !define PLIMSY_WINDOW
  !define PLIMSY_ICON_PROGRAM "plimsy.exe"
!else
  !define PLIMSY_ICON_PROGRAM "plimsy-cli.exe"
!endif

Name "Plimsy ${PLIMSY_DISPLAY_VERSION}"
OutFile "${PLIMSY_OUTFILE}"
InstallDir "$LOCALAPPDATA\Programs\Plimsy"
; A new version goes where the last one is.
InstallDirRegKey HKCU "${UNINSTALL_KEY}" "InstallLocation"
RequestExecutionLevel user
; A file in use stops the installation (Retry, Cancel) instead of being skipped.
AllowSkipFiles off
BrandingText "Plimsy ${PLIMSY_DISPLAY_VERSION}"

!define MUI_ICON "${PLIMSY_ICON}"
!define MUI_UNICON "${PLIMSY_ICON}"
!define MUI_ABORTWARNING
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!ifdef PLIMSY_WINDOW
  !define MUI_FINISHPAGE_RUN "$INSTDIR\plimsy.exe"
  !define MUI_FINISHPAGE_RUN_TEXT "Start Plimsy"
!else
  !define MUI_FINISHPAGE_SHOWREADME "$INSTDIR\docs\help.html"
  !define MUI_FINISHPAGE_SHOWREADME_TEXT "Open the user guide"
!endif
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

VIProductVersion "${PLIMSY_FILE_VERSION}"
VIFileVersion "${PLIMSY_FILE_VERSION}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "ProductName" "Plimsy"
VIAddVersionKey /LANG=${LANG_ENGLISH} "ProductVersion" "${PLIMSY_DISPLAY_VERSION}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "FileDescription" "Plimsy setup"
VIAddVersionKey /LANG=${LANG_ENGLISH} "FileVersion" "${PLIMSY_FILE_VERSION}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "LegalCopyright" "${PLIMSY_COPYRIGHT}"

Function .onInit
  Call closeRunningPlimsy
FunctionEnd

Function un.onInit
  Call un.closeRunningPlimsy
FunctionEnd

Section "Plimsy" SecPlimsy
  SectionIn RO
  ; Plimsy may have been started since the installer was.
  Call closeRunningPlimsy
  !insertmacro PLIMSY_INSTALL_FILES
  SetOutPath "$INSTDIR"
  WriteUninstaller "$INSTDIR\Uninstall.exe"

  !ifdef PLIMSY_WINDOW
    CreateShortcut "${SHORTCUT_WINDOW}" "$INSTDIR\plimsy.exe"
    ; "Open with" for .epub files; Plimsy never makes itself their default.
    WriteRegStr HKCU "Software\Classes\${PROGID}" "" "EPUB book"
    WriteRegStr HKCU "Software\Classes\${PROGID}\DefaultIcon" "" "$INSTDIR\plimsy.exe,0"
    WriteRegStr HKCU "Software\Classes\${PROGID}\shell\open" "FriendlyAppName" "Plimsy"
    WriteRegStr HKCU "Software\Classes\${PROGID}\shell\open\command" "" '"$INSTDIR\plimsy.exe" "%1"'
    WriteRegNone HKCU "Software\Classes\.epub\OpenWithProgids" "${PROGID}"
    System::Call "${NOTIFY_ASSOCIATIONS}"
  !else
    ; Only the command line so far: the shortcut opens the user guide.
    CreateShortcut "${SHORTCUT_GUIDE}" "$INSTDIR\docs\help.html" "" "$INSTDIR\plimsy-cli.exe" 0
  !endif

  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "Plimsy"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${PLIMSY_DISPLAY_VERSION}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\${PLIMSY_ICON_PROGRAM},0"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
  WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
  SectionGetSize ${SecPlimsy} $0
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "EstimatedSize" $0
SectionEnd

Section "Uninstall"
  Call un.closeRunningPlimsy
  ; Both shortcuts and the file type, whichever this version made: an older
  ; installation may have had the other.
  Delete "${SHORTCUT_WINDOW}"
  Delete "${SHORTCUT_GUIDE}"
  DeleteRegValue HKCU "Software\Classes\.epub\OpenWithProgids" "${PROGID}"
  DeleteRegKey /ifempty HKCU "Software\Classes\.epub\OpenWithProgids"
  DeleteRegKey /ifempty HKCU "Software\Classes\.epub"
  DeleteRegKey HKCU "Software\Classes\${PROGID}"
  System::Call "${NOTIFY_ASSOCIATIONS}"

  !insertmacro PLIMSY_UNINSTALL_FILES
  Delete "$INSTDIR\Uninstall.exe"
  ; Only when empty: files of the user's in the folder stay, and so does it.
  RMDir "$INSTDIR"
  DeleteRegKey HKCU "${UNINSTALL_KEY}"
SectionEnd
