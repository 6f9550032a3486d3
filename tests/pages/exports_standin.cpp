// Windows. An executable whose only content is the exported page-access functions.
int main() {
  return 0;
}
