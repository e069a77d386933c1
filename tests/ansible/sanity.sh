#!/usr/bin/env bash
# The collection's static checks: the ansible-test sanity tests that run
# without installing anything (the others need a virtualenv with packages
# from the network), every module's documentation as ansible-doc reads it,
# and the collection tarball.
#   tests/ansible/sanity.sh
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
COLLECTION=$ROOT/ansible/ansible_collections/orvex/vindle
PY=/usr/bin/python3
for program in ansible-test ansible-doc ansible-galaxy $PY; do
  command -v "$program" >/dev/null || { echo "SKIP: $program is missing"; exit 77; }
done
version=$($PY -c 'import sys; print("%d.%d" % sys.version_info[:2])')
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The collection as ansible-test sees it: a copy, so its output stays out of the tree.
mkdir -p "$work/ansible_collections/orvex"
cp -r "$COLLECTION" "$work/ansible_collections/orvex/vindle"
rm -rf "$work/ansible_collections/orvex/vindle/tests/output"
tests=(action-plugin-docs changelog compile empty-init future-import-boilerplate ignores line-endings
       metaclass-boilerplate no-assert no-basestring no-dict-iteritems no-dict-iterkeys no-dict-itervalues
       no-get-exception no-illegal-filenames no-main-display no-smart-quotes no-unicode-literals
       replace-urlopen shebang shellcheck symlinks use-argspec-type-path use-compat-six)
(cd "$work/ansible_collections/orvex/vindle" &&
  timeout 300 ansible-test sanity --color no --python-interpreter $PY --python "$version" \
    "${tests[@]/#/--test=}")

export ANSIBLE_COLLECTIONS_PATH=$work ANSIBLE_LOCAL_TEMP=$work/tmp
for module in "$COLLECTION"/plugins/modules/*.py; do
  name=$(basename "$module" .py)
  timeout 60 ansible-doc -t module "orvex.vindle.$name" >/dev/null
done
timeout 60 ansible-doc -t role orvex.vindle.rolling_update >/dev/null

timeout 120 ansible-galaxy collection build "$COLLECTION" --output-path "$work/dist" >/dev/null
ls "$work/dist"/orvex-vindle-*.tar.gz
