// The port the chat host listens on and the guest calls.
#define CHAT_PORT 24800
