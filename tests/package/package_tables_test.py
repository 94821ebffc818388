#!/usr/bin/env python3
"""The installer package's tables, read with msiinfo: what Wine's installer
does not enforce and Windows does.

- The custom actions run deferred (inside the installation script) and
  without impersonation: on Windows only then do they run as LocalSystem and
  may write the system folder; Wine runs every action with the same rights.
- They sit inside the script: the removal before RemoveFiles (the package's
  copy of the library is still there), the installation after InstallFiles,
  and an older package goes (RemoveExistingProducts) before the script starts.
- The package is a 64-bit one of the version the build defines.

Usage: package_tables_test.py <package.msi> <version>
"""
import subprocess
import sys

MSI_DLL_FROM_BINARY = 0x01
MSI_IN_SCRIPT = 0x400
MSI_NO_IMPERSONATE = 0x800
MSI_ROLLBACK_OR_COMMIT = 0x300


def export(msi, table):
    """The rows of a table as dictionaries (msiinfo export: names, types, key, rows)."""
    lines = subprocess.run(["msiinfo", "export", msi, table], check=True, capture_output=True,
                           text=True).stdout.splitlines()
    names = lines[0].split("\t")
    return [dict(zip(names, line.split("\t"))) for line in lines[3:] if line]


def main():
    msi, version = sys.argv[1], sys.argv[2]
    checks = []  # (passed, what is wrong when it fails)

    def check(condition, text):
        checks.append((bool(condition), text))

    actions = {row["Action"]: row for row in export(msi, "CustomAction")}
    for action, entry in (("InstallProvider", "InstallProvider"), ("RemoveProvider", "RemoveProvider")):
        row = actions.get(action)
        check(row is not None, f"custom action {action} missing")
        if row is None:
            continue
        kind = int(row["Type"])
        check(kind & 0x3F == MSI_DLL_FROM_BINARY, f"{action}: type {kind} is not a DLL from the Binary table")
        check(kind & MSI_IN_SCRIPT, f"{action}: type {kind} is not deferred")
        check(kind & MSI_NO_IMPERSONATE, f"{action}: type {kind} impersonates the user")
        check(not kind & MSI_ROLLBACK_OR_COMMIT, f"{action}: type {kind} is a rollback or commit action")
        check(row["Source"] == "SetupActions" and row["Target"] == entry,
              f"{action}: runs {row['Source']}!{row['Target']}")
    for setter, action in (("SetInstallProviderData", "InstallProvider"), ("SetRemoveProviderData", "RemoveProvider")):
        row = actions.get(setter, {})
        check(row.get("Source") == action and row.get("Target") == "[INSTALLDIR]ORVOTSP.TSP",
              f"{setter} does not hand the package's library to {action}: {row}")
    # (msiinfo export of the Binary table would write its streams into files.)
    streams = subprocess.run(["msiinfo", "streams", msi], check=True, capture_output=True, text=True).stdout
    check("Binary.SetupActions" in streams.split(), "Binary SetupActions missing")

    sequence = {row["Action"]: (int(row["Sequence"]), row["Condition"])
                for row in export(msi, "InstallExecuteSequence")}
    order = [("RemoveExistingProducts", "InstallInitialize"), ("SetRemoveProviderData", "InstallInitialize"),
             ("SetInstallProviderData", "InstallInitialize"), ("InstallInitialize", "RemoveProvider"),
             ("RemoveProvider", "RemoveFiles"), ("InstallFiles", "InstallProvider"),
             ("InstallProvider", "InstallFinalize"), ("FindRelatedProducts", "LaunchConditions")]
    for first, then in order:
        check(first in sequence and then in sequence and sequence[first][0] < sequence[then][0],
              f"{first} does not come before {then}: {sequence.get(first)} {sequence.get(then)}")
    check(sequence.get("RemoveProvider", (0, ""))[1] == 'REMOVE~="ALL"', "RemoveProvider runs on more than removal")
    check(sequence.get("InstallProvider", (0, ""))[1] == 'NOT REMOVE~="ALL"', "InstallProvider runs on removal")

    properties = {row["Property"]: row["Value"] for row in export(msi, "Property")}
    check(properties.get("ProductVersion") == version, f"ProductVersion {properties.get('ProductVersion')}")
    check(properties.get("ALLUSERS") == "1", "not installed for the whole machine")
    upgrades = export(msi, "Upgrade")
    check(any(row["ActionProperty"] == "WIX_UPGRADE_DETECTED" and row["VersionMax"] == version for row in upgrades),
          f"older versions are not upgraded: {upgrades}")
    check(any(row["ActionProperty"] == "WIX_DOWNGRADE_DETECTED" and row["VersionMin"] == version for row in upgrades),
          f"newer versions are not detected: {upgrades}")
    components = export(msi, "Component")
    check(components and all(int(row["Attributes"]) & 0x100 for row in components), "a component is not 64-bit")
    summary = subprocess.run(["msiinfo", "suminfo", msi], check=True, capture_output=True, text=True).stdout
    check("Template: x64;1033" in summary, "the package is not an x64 package")

    failures = [text for passed, text in checks if not passed]
    for failure in failures:
        print("FAIL:", failure)
    print(f"{len(checks) - len(failures)} passed, {len(failures)} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
