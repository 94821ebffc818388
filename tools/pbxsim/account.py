"""The account file: the customer, its users and its phone extensions."""

import json
import uuid as uuidlib
from dataclasses import dataclass


class AccountError(ValueError):
    pass


@dataclass
class Account:
    customer: str
    users: list          # {"name": ..., "password": ...}
    extensions: list     # directory records, in directory order

    def check_login(self, name, password):
        return any(u["name"] == name and u["password"] == password for u in self.users)

    def has_user(self, name):
        return any(u["name"] == name for u in self.users)

    def has_extension(self, number):
        return any(e["extension_number"] == number for e in self.extensions)


def normalise_extensions(records):
    """Checks directory records and fills the defaults of missing members.

    Members beyond the usual four are kept as given, so a test can put odd
    records in front of the provider's directory scan.
    """
    if not isinstance(records, list):
        raise AccountError('"extensions" must be a list')
    result = []
    for index, record in enumerate(records):
        if not isinstance(record, dict):
            raise AccountError(f"extension #{index} is not an object")
        number = record.get("extension_number")
        if not isinstance(number, str) or not number:
            raise AccountError(f'extension #{index} needs a string "extension_number"')
        entry = {
            # A stable uuid keeps demo runs and logs comparable.
            "uuid": str(uuidlib.uuid5(uuidlib.NAMESPACE_URL, "pbxsim-extension-" + number)),
            "extension_number": number,
            "name": "",
            "presence": "online",
        }
        entry.update(record)
        result.append(entry)
    return result


NUMBERED_FIRST = 10000
NUMBERED_MAX = 100000


def numbered_extensions(count, first=NUMBERED_FIRST):
    """count extensions numbered from first on, as a large call centre's directory."""
    if not isinstance(count, int) or isinstance(count, bool) or not 0 <= count <= NUMBERED_MAX:
        raise AccountError(f"the count of extensions must be an integer from 0 to {NUMBERED_MAX}")
    if not isinstance(first, int) or isinstance(first, bool) or first < 0:
        raise AccountError("the first extension number must be a non-negative integer")
    return normalise_extensions([{"extension_number": str(number), "name": f"Extension {number}"}
                                 for number in range(first, first + count)])


def parse_account(data):
    if not isinstance(data, dict):
        raise AccountError("the account must be a JSON object")
    customer = data.get("customer")
    if not isinstance(customer, str) or not customer:
        raise AccountError('"customer" must be a non-empty string')
    users = data.get("users")
    if not isinstance(users, list) or not users:
        raise AccountError('"users" must be a non-empty list')
    for index, user in enumerate(users):
        if not isinstance(user, dict) or not isinstance(user.get("name"), str) \
                or not isinstance(user.get("password"), str):
            raise AccountError(f'user #{index} needs string "name" and "password"')
    return Account(customer, users, normalise_extensions(data.get("extensions", [])))


def load_account(path):
    try:
        with open(path, encoding="utf-8") as handle:
            data = json.load(handle)
    except (OSError, ValueError) as exc:
        raise AccountError(f"cannot read account file {path}: {exc}") from exc
    return parse_account(data)
