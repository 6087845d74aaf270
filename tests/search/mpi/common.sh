# Sourced by the MPI tests, with BINDIR (the programs' folder) set: mpirun as
# these tests start it, on one machine, in a fresh working folder ($work,
# removed at the end).
#   mpi NP ARG...   runs taviron-search-mpi with NP ranks, ending it after
#                   $MPI_TIMEOUT seconds (120): a hang fails, it never blocks
export OMPI_ALLOW_RUN_AS_ROOT=1 OMPI_ALLOW_RUN_AS_ROOT_CONFIRM=1
# More ranks than cores; shared memory without the kernel's single-copy
# support, which containers often refuse.
export OMPI_MCA_rmaps_base_oversubscribe=1 OMPI_MCA_btl_vader_single_copy_mechanism=none
mpi() {
  local np=$1
  shift
  timeout -k 10 "${MPI_TIMEOUT:-120}" mpirun -np "$np" "$BINDIR/taviron-search-mpi" "$@"
}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
