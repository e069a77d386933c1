# The collection is imported as Ansible imports it: from its
# ansible_collections folder.
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(__file__), '..', '..', 'ansible'))
