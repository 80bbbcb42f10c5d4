#!/usr/bin/env bash
# The Ansible collection in ansible/, installed with ansible-galaxy into a private collections
# path, run by ansible-playbook (connection local) inside the test bed's host namespace:
# tests/ops/site.yml asserts what each module must show.
# Usage: tests/ops/ansible_collection.sh BUILD-DIR
OPS_TOOLS="ansible-galaxy ansible-playbook"
. "$(dirname "$0")/bed.sh"
export ANSIBLE_COLLECTIONS_PATH=$TB_DIR/collections ANSIBLE_LOCAL_TEMP=$TB_DIR/ansible-tmp \
  ANSIBLE_REMOTE_TEMP=$TB_DIR/ansible-tmp ANSIBLE_NOCOLOR=1 ANSIBLE_RETRY_FILES_ENABLED=0
ansible-galaxy collection install "$ops_dir/../../ansible" -p "$ANSIBLE_COLLECTIONS_PATH" ||
  ops_fail "ansible-galaxy cannot install the collection"
head -c 5000 /dev/urandom >"$TB_DIR/firmware.bin"
timeout 300 ip netns exec "$host" ansible-playbook -i localhost, -c local "$ops_dir/site.yml" \
  -e "vepctl=$vepctl request_log=$TB_DIR/vepsim-dev1.log firmware=$TB_DIR/firmware.bin" ||
  ops_fail "the playbook failed"
