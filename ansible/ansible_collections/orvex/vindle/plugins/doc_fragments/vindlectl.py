# -*- coding: utf-8 -*-
# Copyright: Vindle developers
# GNU General Public License v3.0+ (see https://www.gnu.org/licenses/gpl-3.0.txt)

from __future__ import absolute_import, division, print_function

__metaclass__ = type


class ModuleDocFragment(object):
    """The options every module passes on to vindlectl (COMMON_SPEC) and the
    choice of boxes (TARGET_SPEC). A module that says more about one of them
    documents that option itself; its text replaces the one given here."""

    # orvex.vindle.vindlectl
    DOCUMENTATION = r'''
options:
  adapter:
    description: The adapter to search on, by name, alias or address.
    type: str
  wait:
    description: How long a search listens for replies, in milliseconds.
    type: int
  vindlectl:
    description: Path of the vindlectl program; found in C(PATH) when not given.
    type: path
notes:
  - Supports check mode.
'''

    # orvex.vindle.vindlectl.targets
    TARGETS = r'''
options:
  targets:
    description:
      - The boxes, each an IPv4 address, a MAC address or a range such as C(10.77.0.0/24).
      - Exactly one of I(targets) and I(all) is given.
    type: list
    elements: str
  all:
    description: Every box that answers a search on the adapter.
    type: bool
    default: false
'''
