// The balance's editor, drawn with plain OpenGL through DGL: a dark field with a bar
// for the gain (green, its width the gain over 2) and a marker for the balance. It
// sets nothing; it shows what the host's parameter changes reach.
#include "DistrhoUI.hpp"

START_NAMESPACE_DISTRHO

class TestBalanceUI : public UI {
public:
    TestBalanceUI() : UI(DISTRHO_UI_DEFAULT_WIDTH, DISTRHO_UI_DEFAULT_HEIGHT) {}

protected:
    void parameterChanged(uint32_t index, float value) override {
        if (index == kTestBalanceGain)
            gain_ = value;
        else if (index == kTestBalanceBalance)
            balance_ = value;
        repaint();
    }

    void stateChanged(const char*, const char*) override {}

    void onDisplay() override {
        const float w = float(getWidth()), h = float(getHeight());
        fill(0.0f, 0.0f, w, h, 0.10f, 0.12f, 0.16f);
        fill(10.0f, 10.0f, (w - 20.0f) * gain_ / 2.0f, h * 0.5f - 15.0f, 0.20f, 0.75f, 0.30f);
        const float x = 10.0f + (w - 20.0f) * (balance_ + 1.0f) / 2.0f;
        fill(10.0f, h * 0.5f + 5.0f, w - 20.0f, h * 0.5f - 15.0f, 0.25f, 0.27f, 0.32f);
        fill(x - 3.0f, h * 0.5f + 5.0f, 6.0f, h * 0.5f - 15.0f, 0.95f, 0.80f, 0.20f);
    }

private:
    static void fill(float x, float y, float w, float h, float r, float g, float b) {
        glColor4f(r, g, b, 1.0f);
        glBegin(GL_QUADS);
        glVertex2f(x, y);
        glVertex2f(x + w, y);
        glVertex2f(x + w, y + h);
        glVertex2f(x, y + h);
        glEnd();
    }

    float gain_ = 1.0f;
    float balance_ = 0.0f;
};

UI* createUI() { return new TestBalanceUI(); }

END_NAMESPACE_DISTRHO
