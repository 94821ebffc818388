# The Windows Installer package: package/ORVOTSP.wxs built by wixl (Debian's
# msitools, which ./dev installs), with the custom actions of
# package/SetupActions.cpp (target orvosetup).
find_program(WIXL wixl REQUIRED)

# Every version of the package belongs to this product family; keep it.
set(ORVO_UPGRADE_CODE EF5161B4-0ED4-4FD7-88AA-DEAE17CB3ED0)

# orvo_add_package(<target> <provider target> <version> <folder>): the package
# of a provider library built with that version, as
# <folder>/ORVOTSP-<version>-x64.msi, built with everything (ALL). The
# ProductCode is derived from the version: a rebuild of the same version is
# the same product to Windows Installer. The package holds the libraries
# without their debug information (which only Wine's debugger reads), as
# <current binary folder>/<target>-inputs/ holds them.
function(orvo_add_package target provider version folder)
  string(UUID product_code NAMESPACE ${ORVO_UPGRADE_CODE} NAME ${version} TYPE SHA1 UPPER)
  set(msi ${folder}/ORVOTSP-${version}-x64.msi)
  set(source ${CMAKE_SOURCE_DIR}/package/ORVOTSP.wxs)
  set(icon ${CMAKE_SOURCE_DIR}/config/icons/phone.ico)
  # wixl finds its input files only by names relative to its working folder:
  # each package's inputs are gathered in a folder of their own.
  set(inputs ${CMAKE_CURRENT_BINARY_DIR}/${target}-inputs)
  file(MAKE_DIRECTORY ${inputs})
  add_custom_command(OUTPUT ${msi}
    COMMAND ${CMAKE_STRIP} --strip-all -o ${inputs}/ORVOTSP.TSP $<TARGET_FILE:${provider}>
    COMMAND ${CMAKE_STRIP} --strip-all -o ${inputs}/ORVOTSPSetup.dll $<TARGET_FILE:orvosetup>
    COMMAND ${CMAKE_COMMAND} -E copy ${icon} ${inputs}/phone.ico
    COMMAND ${WIXL} --arch x64 -D Version=${version} -D UpgradeCode=${ORVO_UPGRADE_CODE}
            -D ProductCode=${product_code} -D ProviderFile=ORVOTSP.TSP -D SetupActions=ORVOTSPSetup.dll
            -D IconFile=phone.ico -o ${msi} ${source}
    WORKING_DIRECTORY ${inputs}
    DEPENDS ${provider} orvosetup ${source} ${icon}
    COMMENT "Packaging ${msi}"
    VERBATIM)
  add_custom_target(${target} ALL DEPENDS ${msi})
endfunction()
