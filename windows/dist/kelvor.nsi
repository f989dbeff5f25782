; Kelvor's setup program, made by windows/dist/CMakeLists.txt, which defines VERSION,
; VERSION4, PUBLISHER, LICENSE_NAME, APP_ID, STAGE (the staged files), FILES and UNFILES (the
; File and Delete lines made from one list), ICON, WELCOME (the first and last pages' picture)
; and OUTFILE.
;
; Installs for every user into Program Files\Kelvor, with a Start-menu shortcut that starts
; Kelvor in the user's Documents\Kelvor and an entry in Apps & features. The user's folder is
; never touched: an upgrade replaces the program files only, and the uninstaller removes
; exactly what was installed. Scripted: setup.exe /S [/D=FOLDER], uninstall.exe /S [_?=FOLDER].
Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma
ManifestDPIAware true

!include "MUI2.nsh"
!include "FileFunc.nsh"
!include "WinMessages.nsh"

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${APP_ID}"

Name "Kelvor ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\Kelvor"
; An upgrade goes where the installed version is, unless /D= says otherwise.
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
RequestExecutionLevel admin
BrandingText "${PUBLISHER}"

VIProductVersion "${VERSION4}"
VIAddVersionKey "ProductName" "Kelvor"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "CompanyName" "${PUBLISHER}"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "FileDescription" "Kelvor ${VERSION} setup"
VIAddVersionKey "LegalCopyright" "${PUBLISHER}, ${LICENSE_NAME} licence"

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_WELCOMEFINISHPAGE_BITMAP "${WELCOME}"
!define MUI_FINISHPAGE_RUN "$INSTDIR\Kelvor.exe"
!define MUI_FINISHPAGE_RUN_PARAMETERS "--user-folder"
!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_LICENSE "${STAGE}\LICENSE.txt"
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
; The pages speak the user's interface language where NSIS has it (a German Windows, any
; German variant, gets German), English otherwise: the first language is the default.
!insertmacro MUI_LANGUAGE "English"
!insertmacro MUI_LANGUAGE "German"
!insertmacro MUI_LANGUAGE "French"
!insertmacro MUI_LANGUAGE "Spanish"
!insertmacro MUI_LANGUAGE "Italian"
!insertmacro MUI_LANGUAGE "Portuguese"
!insertmacro MUI_LANGUAGE "Dutch"

; Kelvor's own sentences, in the languages of its language files (this file is UTF-8).
LangString KelvorRunning ${LANG_ENGLISH} "Kelvor is running. Close it, then choose Retry."
LangString KelvorRunning ${LANG_GERMAN} "Kelvor läuft. Beenden Sie Kelvor und wählen Sie dann Wiederholen."
LangString KelvorRunning ${LANG_FRENCH} "Kelvor est en cours d'exécution. Fermez-le, puis choisissez Réessayer."
LangString KelvorRunning ${LANG_SPANISH} "Kelvor se está ejecutando. Ciérrelo y elija Reintentar."
LangString KelvorRunning ${LANG_ITALIAN} "Kelvor è in esecuzione. Chiuderlo, poi scegliere Riprova."
LangString KelvorRunning ${LANG_PORTUGUESE} "O Kelvor está em execução. Feche-o e escolha Repetir."
LangString KelvorRunning ${LANG_DUTCH} "Kelvor is actief. Sluit het af en kies Opnieuw proberen."
LangString KelvorClose ${LANG_ENGLISH} "Kelvor is running. Choose OK to close it (a run in progress stops) and uninstall."
LangString KelvorClose ${LANG_GERMAN} "Kelvor läuft. Wählen Sie OK, um Kelvor zu beenden (eine laufende Messung stoppt) und zu deinstallieren."
LangString KelvorClose ${LANG_FRENCH} "Kelvor est en cours d'exécution. Choisissez OK pour le fermer (une acquisition en cours s'arrête) et le désinstaller."
LangString KelvorClose ${LANG_SPANISH} "Kelvor se está ejecutando. Elija Aceptar para cerrarlo (una lectura en curso se detiene) y desinstalarlo."
LangString KelvorClose ${LANG_ITALIAN} "Kelvor è in esecuzione. Scegliere OK per chiuderlo (una lettura in corso si ferma) e disinstallarlo."
LangString KelvorClose ${LANG_PORTUGUESE} "O Kelvor está em execução. Escolha OK para o fechar (uma leitura em curso para) e desinstalar."
LangString KelvorClose ${LANG_DUTCH} "Kelvor is actief. Kies OK om het af te sluiten (een lopende meting stopt) en te verwijderen."
LangString KelvorShortcut ${LANG_ENGLISH} "Hand the readings of a serial instrument to other programs"
LangString KelvorShortcut ${LANG_GERMAN} "Messwerte eines seriellen Geräts an andere Programme übergeben"
LangString KelvorShortcut ${LANG_FRENCH} "Transmettre les mesures d'un instrument série à d'autres programmes"
LangString KelvorShortcut ${LANG_SPANISH} "Pasar las lecturas de un instrumento serie a otros programas"
LangString KelvorShortcut ${LANG_ITALIAN} "Passare le letture di uno strumento seriale ad altri programmi"
LangString KelvorShortcut ${LANG_PORTUGUESE} "Passar as leituras de um instrumento série a outros programas"
LangString KelvorShortcut ${LANG_DUTCH} "Metingen van een serieel instrument doorgeven aan andere programma's"

; A running Kelvor holds its program file, which could then be neither replaced nor removed.
; Setup never closes it (a run may be going on): its user closes it first, and silently setup
; ends at once with exit code 2.
!macro KelvorMustBeClosed
  FindWindow $0 "KelvorStrip"
  StrCmp $0 0 +4
  MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION "$(KelvorRunning)" /SD IDCANCEL IDRETRY -2
  SetErrorLevel 2
  Quit
!macroend

Function .onInit
  SetRegView 64
  SetShellVarContext all
  !insertmacro KelvorMustBeClosed
FunctionEnd

; Whoever uninstalls wants Kelvor gone, and Apps & features runs the quiet command without a
; window to ask in: a running Kelvor is closed as its close box would close it (reception
; stops, the port and the DDE server are let go; Kelvor keeps nothing unsaved at exit), after
; the user agreed when there is one. The uninstaller goes on once every strip is gone and
; Kelvor.exe is free. When Kelvor does not end within 10 s, or the user declines, nothing is
; removed and the exit code is 2.
Function un.CloseKelvor
  FindWindow $0 "KelvorStrip"
  StrCmp $0 0 free
  MessageBox MB_OKCANCEL|MB_ICONEXCLAMATION "$(KelvorClose)" /SD IDOK IDOK close
  Goto refuse
close:
  StrCpy $1 0
again:
  FindWindow $0 "KelvorStrip"
  StrCmp $0 0 free
  SendMessage $0 ${WM_CLOSE} 0 0 /TIMEOUT=2000
  Sleep 100
  IntOp $1 $1 + 1
  IntCmp $1 100 refuse again refuse
free:
  ; The strip goes a moment before its process has ended and let go of Kelvor.exe.
  StrCpy $1 0
  IfFileExists "$INSTDIR\Kelvor.exe" 0 done
wait:
  ClearErrors
  FileOpen $2 "$INSTDIR\Kelvor.exe" a
  IfErrors 0 opened
  Sleep 100
  IntOp $1 $1 + 1
  IntCmp $1 100 refuse wait refuse
opened:
  FileClose $2
done:
  Return
refuse:
  SetErrorLevel 2
  Quit
FunctionEnd

Function un.onInit
  SetRegView 64
  SetShellVarContext all
  Call un.CloseKelvor
FunctionEnd

Section "Kelvor"
  !include "${FILES}"
  WriteUninstaller "$INSTDIR\uninstall.exe"

  ; The shortcut's own folder is the program's; --user-folder moves Kelvor into the user's
  ; Documents\Kelvor, filled at its first start from the files beside Kelvor.exe.
  SetOutPath "$INSTDIR"
  CreateShortcut "$SMPROGRAMS\Kelvor.lnk" "$INSTDIR\Kelvor.exe" "--user-folder" "$INSTDIR\Kelvor.exe" 0 \
    SW_SHOWNORMAL "" "$(KelvorShortcut)"

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "Kelvor"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\Kelvor.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $0
SectionEnd

Section "Uninstall"
  !include "${UNFILES}"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  Delete "$SMPROGRAMS\Kelvor.lnk"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
