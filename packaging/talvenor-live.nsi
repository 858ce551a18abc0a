; The Talvenor Live installer (makensis, called by scripts/dist).
; Defines from the command line:
;   VERSION      2.1.0
;   PROGRAM_EXE  the program's file name in both editions
;   STAGE32      the staged 32-bit edition (program, "VST Plugins", VST3, CLAP, driver,
;                README.txt)
;   STAGE64      the same for the 64-bit edition
;   OUTFILE      the installer to write
;
; On 64-bit Windows it installs the 64-bit edition into Program Files\Talvenor Live,
; the 32-bit edition optionally into Program Files (x86)\Talvenor Live (for 32-bit
; plug-ins); on 32-bit Windows the 32-bit edition into Program Files\Talvenor Live.
; Each edition's effects also go, as VST3 bundles and CLAP files, into the VST3 and
; CLAP folders under Common Files of its width, where every host looks for them.
; The ZerevaZ-2-UDID driver is registered for programs of both widths (optional, on).
; Silent: /S; /EDITION32 adds the 32-bit edition on 64-bit Windows; /NODRIVER leaves
; the driver out. Exit code 2 when the driver could not be registered.
Unicode true
SetCompressor /SOLID lzma
RequestExecutionLevel admin

!include "MUI2.nsh"
!include "LogicLib.nsh"
!include "x64.nsh"
!include "FileFunc.nsh"

!define PRODUCT "Talvenor Live"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Talvenor Live"
!define SETTINGS_KEY "SOFTWARE\Talvenor Software\Talvenor Live\2"
!define DRIVER_DLL "ZerevaZ-2-UDID.dll"
!define MENU_FOLDER "$SMPROGRAMS\Talvenor Live"

Name "${PRODUCT} ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES\Talvenor Live"
ShowInstDetails show
ShowUninstDetails show
BrandingText "${PRODUCT} ${VERSION}"

VIProductVersion "${VERSION}.0"
VIAddVersionKey /LANG=1033 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=1033 "CompanyName" "Talvenor Software"
VIAddVersionKey /LANG=1033 "FileDescription" "${PRODUCT} installer"
VIAddVersionKey /LANG=1033 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "LegalCopyright" "Copyright (C) Talvenor Software"

Var Dir32          ; where the 32-bit files go: Program Files (x86) on 64-bit Windows
Var Common32       ; Common Files of 32-bit programs: Common Files (x86) on 64-bit Windows
Var DriverFailed   ; a width whose registration failed, for the closing report

!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_COMPONENTS
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

; ---- install ----

; Copies one edition's program, its bridges (plug-ins of its own width in a process of
; their own, and of the other width), plug-ins and read-me into a folder.
!macro InstallEdition STAGE DIR OTHER
    SetOutPath "${DIR}"
    File "${STAGE}\${PROGRAM_EXE}"
    File "${STAGE}\talvenor-bridge.exe"
    File "${STAGE}\talvenor-bridge${OTHER}.exe"
    File "${STAGE}\README.txt"
    SetOutPath "${DIR}\VST Plugins"
    File "${STAGE}\VST Plugins\Modulane.dll"
    File "${STAGE}\VST Plugins\Filtrace.dll"
    File "${STAGE}\VST Plugins\Overdrive.dll"
    SetOutPath "${DIR}"
!macroend

; One effect's VST3 bundle and CLAP file into the shared folders of the edition's width.
!macro InstallEffectFormats STAGE COMMON ARCH FX
    SetOutPath "${COMMON}\VST3\${FX}.vst3\Contents\${ARCH}"
    File "${STAGE}\VST3\${FX}.vst3\Contents\${ARCH}\${FX}.vst3"
    SetOutPath "${COMMON}\VST3\${FX}.vst3\Contents\Resources"
    File "${STAGE}\VST3\${FX}.vst3\Contents\Resources\moduleinfo.json"
    SetOutPath "${COMMON}\CLAP"
    File "${STAGE}\CLAP\${FX}.clap"
!macroend

!macro InstallFormats STAGE COMMON ARCH
    !insertmacro InstallEffectFormats "${STAGE}" "${COMMON}" "${ARCH}" Modulane
    !insertmacro InstallEffectFormats "${STAGE}" "${COMMON}" "${ARCH}" Filtrace
    !insertmacro InstallEffectFormats "${STAGE}" "${COMMON}" "${ARCH}" Overdrive
!macroend

Section "Talvenor Live (64-bit)" SecEdition64
    !insertmacro InstallEdition "${STAGE64}" "$INSTDIR" 32
    !insertmacro InstallFormats "${STAGE64}" "$COMMONFILES64" x86_64-win
    SetOutPath "$INSTDIR"
    CreateDirectory "${MENU_FOLDER}"
    CreateShortcut "${MENU_FOLDER}\Talvenor Live.lnk" "$INSTDIR\${PROGRAM_EXE}" "" "$INSTDIR\${PROGRAM_EXE}" 0
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "Edition64" 1
SectionEnd

Section /o "Talvenor Live (32-bit, for 32-bit plug-ins)" SecEdition32
    !insertmacro InstallEdition "${STAGE32}" "$Dir32" 64
    !insertmacro InstallFormats "${STAGE32}" "$Common32" x86-win
    SetOutPath "$Dir32"
    CreateDirectory "${MENU_FOLDER}"
    ${If} ${RunningX64}
        CreateShortcut "${MENU_FOLDER}\Talvenor Live (32-bit).lnk" "$Dir32\${PROGRAM_EXE}" "" "$Dir32\${PROGRAM_EXE}" 0
    ${Else}
        CreateShortcut "${MENU_FOLDER}\Talvenor Live.lnk" "$Dir32\${PROGRAM_EXE}" "" "$Dir32\${PROGRAM_EXE}" 0
    ${EndIf}
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "Edition32" 1
SectionEnd

; regsvr32 of the driver's width; a failure is reported, never passed over.
!macro RegisterDriver WIDTH DLL
    ClearErrors
    ExecWait '"$SYSDIR\regsvr32.exe" /s "${DLL}"' $0
    ${If} ${Errors}
    ${OrIf} $0 != 0
        DetailPrint "The ZerevaZ-2-UDID driver could not be registered for ${WIDTH} programs (regsvr32: $0)."
        StrCpy $DriverFailed "$DriverFailed ${WIDTH}"
    ${Else}
        DetailPrint "ZerevaZ-2-UDID registered for ${WIDTH} programs."
        WriteRegDWORD HKLM "${UNINSTALL_KEY}" "Driver${WIDTH}" 1
    ${EndIf}
!macroend

Section "ZerevaZ-2-UDID driver for every ASIO program" SecDriver
    SetOutPath "$Dir32"
    File "${STAGE32}\${DRIVER_DLL}"
    !insertmacro RegisterDriver "32-bit" "$Dir32\${DRIVER_DLL}"
    ${If} ${RunningX64}
        SetOutPath "$INSTDIR"
        File "${STAGE64}\${DRIVER_DLL}"
        ; The 64-bit regsvr32 is the one in the real system folder.
        ${DisableX64FSRedirection}
        !insertmacro RegisterDriver "64-bit" "$INSTDIR\${DRIVER_DLL}"
        ${EnableX64FSRedirection}
    ${EndIf}
    ${If} $DriverFailed != ""
        MessageBox MB_OK|MB_ICONEXCLAMATION "The ZerevaZ-2-UDID driver could not be registered for:$DriverFailed programs.$\r$\n$\r$\nRegistering needs administrator rights. Talvenor Live itself can still use the driver; other ASIO programs will not list it. Run the installer again as an administrator to register it." /SD IDOK
        SetErrorLevel 2
    ${EndIf}
SectionEnd

Section "-Settings and uninstaller"
    SetOutPath "$INSTDIR"
    ; The program finds its own plug-in folder ("VST Plugins") under this folder.
    WriteRegStr HKCU "${SETTINGS_KEY}" "szAppDir" "$INSTDIR\"
    WriteUninstaller "$INSTDIR\Uninstall.exe"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "Talvenor Software"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\${PROGRAM_EXE}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
    WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
    ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" "$0"
SectionEnd

LangString DESC_Edition64 ${LANG_ENGLISH} "The program for 64-bit Windows, with its three effects (also as VST3 and CLAP for other programs). It loads 64-bit plug-ins."
LangString DESC_Edition32 ${LANG_ENGLISH} "The program for 32-bit plug-ins, with its three effects (also as 32-bit VST3 and CLAP), beside the 64-bit one."
LangString DESC_Driver ${LANG_ENGLISH} "Registers the DirectSound driver ZerevaZ-2-UDID, so that every ASIO program (32- and 64-bit) can use a sound card without an ASIO driver."
!insertmacro MUI_FUNCTION_DESCRIPTION_BEGIN
    !insertmacro MUI_DESCRIPTION_TEXT ${SecEdition64} $(DESC_Edition64)
    !insertmacro MUI_DESCRIPTION_TEXT ${SecEdition32} $(DESC_Edition32)
    !insertmacro MUI_DESCRIPTION_TEXT ${SecDriver} $(DESC_Driver)
!insertmacro MUI_FUNCTION_DESCRIPTION_END

Function .onInit
    StrCpy $DriverFailed ""
    ${GetParameters} $R0
    ${If} ${RunningX64}
        SetRegView 64
        StrCpy $INSTDIR "$PROGRAMFILES64\Talvenor Live"
        StrCpy $Dir32 "$PROGRAMFILES32\Talvenor Live"
        StrCpy $Common32 "$COMMONFILES32"
        SectionSetFlags ${SecEdition64} ${SF_SELECTED}|${SF_RO}
        ClearErrors
        ${GetOptions} $R0 "/EDITION32" $R1
        ${IfNot} ${Errors}
            SectionSetFlags ${SecEdition32} ${SF_SELECTED}
        ${EndIf}
    ${Else}
        ; 32-bit Windows runs the 32-bit edition only.
        StrCpy $INSTDIR "$PROGRAMFILES\Talvenor Live"
        StrCpy $Dir32 "$INSTDIR"
        StrCpy $Common32 "$COMMONFILES"
        SectionSetFlags ${SecEdition64} ${SF_RO}
        SectionSetText ${SecEdition64} ""
        SectionSetFlags ${SecEdition32} ${SF_SELECTED}|${SF_RO}
        SectionSetText ${SecEdition32} "Talvenor Live"
    ${EndIf}
    ClearErrors
    ${GetOptions} $R0 "/NODRIVER" $R1
    ${IfNot} ${Errors}
        SectionSetFlags ${SecDriver} 0
    ${EndIf}
    SetShellVarContext all
FunctionEnd

; ---- uninstall: exactly what was installed, never the user's takes or settings ----

!macro RemoveEdition DIR OTHER
    Delete "${DIR}\${PROGRAM_EXE}"
    Delete "${DIR}\talvenor-bridge.exe"
    Delete "${DIR}\talvenor-bridge${OTHER}.exe"
    Delete "${DIR}\README.txt"
    Delete "${DIR}\VST Plugins\Modulane.dll"
    Delete "${DIR}\VST Plugins\Filtrace.dll"
    Delete "${DIR}\VST Plugins\Overdrive.dll"
    RMDir "${DIR}\VST Plugins"
!macroend

; The shared VST3 and CLAP folders themselves stay: other makers' plug-ins live there.
!macro RemoveEffectFormats COMMON ARCH FX
    Delete "${COMMON}\VST3\${FX}.vst3\Contents\${ARCH}\${FX}.vst3"
    Delete "${COMMON}\VST3\${FX}.vst3\Contents\Resources\moduleinfo.json"
    RMDir "${COMMON}\VST3\${FX}.vst3\Contents\${ARCH}"
    RMDir "${COMMON}\VST3\${FX}.vst3\Contents\Resources"
    RMDir "${COMMON}\VST3\${FX}.vst3\Contents"
    RMDir "${COMMON}\VST3\${FX}.vst3"
    Delete "${COMMON}\CLAP\${FX}.clap"
!macroend

!macro RemoveFormats COMMON ARCH
    !insertmacro RemoveEffectFormats "${COMMON}" "${ARCH}" Modulane
    !insertmacro RemoveEffectFormats "${COMMON}" "${ARCH}" Filtrace
    !insertmacro RemoveEffectFormats "${COMMON}" "${ARCH}" Overdrive
!macroend

!macro UnregisterDriver WIDTH DLL
    ReadRegDWORD $0 HKLM "${UNINSTALL_KEY}" "Driver${WIDTH}"
    ${If} $0 == 1
        ExecWait '"$SYSDIR\regsvr32.exe" /s /u "${DLL}"' $1
        DetailPrint "ZerevaZ-2-UDID unregistered for ${WIDTH} programs (regsvr32: $1)."
    ${EndIf}
!macroend

Function un.onInit
    SetShellVarContext all
    ${If} ${RunningX64}
        SetRegView 64
        StrCpy $Dir32 "$PROGRAMFILES32\Talvenor Live"
        StrCpy $Common32 "$COMMONFILES32"
    ${Else}
        StrCpy $Dir32 "$INSTDIR"
        StrCpy $Common32 "$COMMONFILES"
    ${EndIf}
FunctionEnd

Section "Uninstall"
    !insertmacro UnregisterDriver "32-bit" "$Dir32\${DRIVER_DLL}"
    ${If} ${RunningX64}
        ${DisableX64FSRedirection}
        !insertmacro UnregisterDriver "64-bit" "$INSTDIR\${DRIVER_DLL}"
        ${EnableX64FSRedirection}
    ${EndIf}
    Delete "$Dir32\${DRIVER_DLL}"
    Delete "$INSTDIR\${DRIVER_DLL}"

    ReadRegDWORD $0 HKLM "${UNINSTALL_KEY}" "Edition32"
    ${If} $0 == 1
        !insertmacro RemoveEdition "$Dir32" 64
        !insertmacro RemoveFormats "$Common32" x86-win
    ${EndIf}
    ReadRegDWORD $0 HKLM "${UNINSTALL_KEY}" "Edition64"
    ${If} $0 == 1
        !insertmacro RemoveEdition "$INSTDIR" 32
        !insertmacro RemoveFormats "$COMMONFILES64" x86_64-win
    ${EndIf}
    Delete "${MENU_FOLDER}\Talvenor Live.lnk"
    Delete "${MENU_FOLDER}\Talvenor Live (32-bit).lnk"
    RMDir "${MENU_FOLDER}"

    ; Only the folder's own value goes; the user's settings, and the keys that hold
    ; them, stay (an empty key is removed).
    ReadRegStr $0 HKCU "${SETTINGS_KEY}" "szAppDir"
    ${If} $0 == "$INSTDIR\"
        DeleteRegValue HKCU "${SETTINGS_KEY}" "szAppDir"
    ${EndIf}
    DeleteRegKey /ifempty HKCU "${SETTINGS_KEY}"
    DeleteRegKey /ifempty HKCU "SOFTWARE\Talvenor Software\Talvenor Live"
    DeleteRegKey /ifempty HKCU "SOFTWARE\Talvenor Software"

    DeleteRegKey HKLM "${UNINSTALL_KEY}"
    Delete "$INSTDIR\Uninstall.exe"
    ; Not recursive: anything the user put there keeps the folder.
    RMDir "$Dir32"
    RMDir "$INSTDIR"
SectionEnd
