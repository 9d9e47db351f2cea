; QuavloII-setup.exe, made on Linux by makensis (the installer-windows target of the Windows cross build):
;   makensis -DVERSION=1.1.0 -DSTAGE=<folder with quavlo.exe, quavlo-cli.exe, README.txt, LICENSE.txt,
;            THIRD-PARTY.txt> -DICON=<quavlo.ico>
;            -DOUTFILE=<QuavloII-setup.exe> installer.nsi
; Installs both programs for all users (Program Files, HKLM) when run by an administrator, else for the current user
; alone ($LOCALAPPDATA\Programs, HKCU), no administrator rights needed; /AllUsers or /CurrentUser choose, /S
; installs silently. Adds a Start-menu entry, opens .qvl files with quavlo.exe and enters the program in the list of
; installed programs with an uninstaller that removes all of it again.
; A 64-bit installer, as the programs are: it runs where they run, on Windows and on a Wine without 32-bit support.
Target amd64-unicode
ManifestDPIAware true
SetCompressor /SOLID lzma

!define PRODUCT "QuavloII"
!define PROGID "QuavloII.Module"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\QuavloII"

Name "${PRODUCT}"
OutFile "${OUTFILE}"
BrandingText "${PRODUCT} ${VERSION}"

!define MULTIUSER_EXECUTIONLEVEL Highest
!define MULTIUSER_MUI
!define MULTIUSER_INSTALLMODE_COMMANDLINE
!define MULTIUSER_USE_PROGRAMFILES64
!define MULTIUSER_INSTALLMODE_INSTDIR "${PRODUCT}"
; The uninstaller and a later installer find the mode of the installation from this value.
!define MULTIUSER_INSTALLMODE_DEFAULT_REGISTRY_KEY "${UNINSTALL_KEY}"
!define MULTIUSER_INSTALLMODE_DEFAULT_REGISTRY_VALUENAME "InstallMode"
!define MULTIUSER_INSTALLMODE_INSTDIR_REGISTRY_KEY "${UNINSTALL_KEY}"
!define MULTIUSER_INSTALLMODE_INSTDIR_REGISTRY_VALUENAME "InstallLocation"
!include MultiUser.nsh
!include MUI2.nsh

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_ABORTWARNING
!define MUI_FINISHPAGE_RUN "$INSTDIR\quavlo.exe"
!define MUI_FINISHPAGE_RUN_TEXT "Start ${PRODUCT}"

!insertmacro MUI_PAGE_LICENSE "${STAGE}/LICENSE.txt"
!insertmacro MULTIUSER_PAGE_INSTALLMODE
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

VIProductVersion "${VERSION}.0"
VIAddVersionKey /LANG=${LANG_ENGLISH} "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "FileDescription" "${PRODUCT} setup"
VIAddVersionKey /LANG=${LANG_ENGLISH} "CompanyName" "${PRODUCT}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "LegalCopyright" "Copyright (c) The QuavloII developers, MIT license"

Function .onInit
  SetRegView 64
  !insertmacro MULTIUSER_INIT
FunctionEnd

Function un.onInit
  SetRegView 64
  !insertmacro MULTIUSER_UNINIT
FunctionEnd

; Tells Explorer that file associations changed, so .qvl files show the icon at once.
!macro QUAVLO_NOTIFY_ASSOCIATIONS
  System::Call 'shell32::SHChangeNotify(i 0x08000000, i 0, p 0, p 0)'
!macroend

Section "QuavloII" SecMain
  SectionIn RO
  SetOutPath "$INSTDIR"
  File "${STAGE}/quavlo.exe"
  File "${STAGE}/quavlo-cli.exe"
  File "${STAGE}/README.txt"
  File "${STAGE}/LICENSE.txt"
  File "${STAGE}/THIRD-PARTY.txt"
  WriteUninstaller "$INSTDIR\uninstall.exe"

  ; The Start menu (for all users or for this one, as the mode says: SHCTX and $SMPROGRAMS follow it).
  CreateShortcut "$SMPROGRAMS\${PRODUCT}.lnk" "$INSTDIR\quavlo.exe" "" "$INSTDIR\quavlo.exe" 0

  ; .qvl files open in the tracker and show its icon.
  WriteRegStr SHCTX "Software\Classes\.qvl" "" "${PROGID}"
  WriteRegStr SHCTX "Software\Classes\.qvl" "Content Type" "audio/x-quavlo-module"
  WriteRegStr SHCTX "Software\Classes\.qvl\OpenWithProgids" "${PROGID}" ""
  WriteRegStr SHCTX "Software\Classes\${PROGID}" "" "QuavloII module"
  WriteRegStr SHCTX "Software\Classes\${PROGID}\DefaultIcon" "" '"$INSTDIR\quavlo.exe",0'
  WriteRegStr SHCTX "Software\Classes\${PROGID}\shell\open\command" "" '"$INSTDIR\quavlo.exe" "%1"'
  !insertmacro QUAVLO_NOTIFY_ASSOCIATIONS

  ; The list of installed programs.
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "Publisher" "${PRODUCT}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayIcon" '"$INSTDIR\quavlo.exe",0'
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "InstallMode" "$MultiUser.InstallMode"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe" /$MultiUser.InstallMode'
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /$MultiUser.InstallMode /S'
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "NoRepair" 1
  SectionGetSize ${SecMain} $0
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "EstimatedSize" $0
SectionEnd

Section "Uninstall"
  Delete "$INSTDIR\quavlo.exe"
  Delete "$INSTDIR\quavlo-cli.exe"
  Delete "$INSTDIR\README.txt"
  Delete "$INSTDIR\LICENSE.txt"
  Delete "$INSTDIR\THIRD-PARTY.txt"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  Delete "$SMPROGRAMS\${PRODUCT}.lnk"

  ; .qvl goes back to no program, unless another program has taken it over since.
  DeleteRegValue SHCTX "Software\Classes\.qvl\OpenWithProgids" "${PROGID}"
  DeleteRegKey /IfEmpty SHCTX "Software\Classes\.qvl\OpenWithProgids"
  ReadRegStr $0 SHCTX "Software\Classes\.qvl" ""
  ${If} $0 == "${PROGID}"
    DeleteRegValue SHCTX "Software\Classes\.qvl" ""
    DeleteRegValue SHCTX "Software\Classes\.qvl" "Content Type"
  ${EndIf}
  DeleteRegKey /IfEmpty SHCTX "Software\Classes\.qvl"
  DeleteRegKey SHCTX "Software\Classes\${PROGID}"
  DeleteRegKey SHCTX "${UNINSTALL_KEY}"
  !insertmacro QUAVLO_NOTIFY_ASSOCIATIONS
SectionEnd
